#pragma once

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

// A directory of scripted stand-ins for external programs. Each fake records every call's
// arguments and plays a scenario (see tests/support/fake-program for the directives).
class FakeExecutables final
{
public:
    FakeExecutables();

    QString directory() const { return m_directory.path(); }

    // Creates the fake program name, which ends with 0 until it is given a scenario.
    void add(const QString& name);
    // The scenario played by every call of name, or by the call-th call only when call is above 0.
    void setScenario(const QString& name, const QString& scenario, int call = 0);
    // Scenarios given a directive at a time, as "NAME: DIRECTIVE" lines gathered into one scenario
    // per NAME: NAME@LAST for a call whose last argument is LAST, NAME#N for the N-th call only. The
    // fakes are made where missing.
    void addDirectives(const QStringList& directives);

    // Forgets every recorded call and scenario; the fakes stay.
    void reset();

    // The argument lists of every call of name so far, oldest first.
    QList<QStringList> calls(const QString& name) const;

    // The names of the fakes called so far, in the order of the calls.
    QStringList sequence() const;

    // The calls so far of the fakes named, in the order they came, each as "NAME ARGUMENT...".
    QStringList callsInOrder(const QStringList& names) const;

    // Puts this directory first on the PATH of the test process itself, in place of the fakes
    // activated before.
    void activate() const;

    static QString fakeProgramPath();
    static QString sandboxRunPath();

private:
    QTemporaryDir m_directory;
};
