// The system information panel and the distribution version the launch compares sources with.

#include <QFile>
#include <QTextStream>

#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::updateSystemInfo()
{
    ui->m_sysInfoLabel->setText(m_systemInformation.text());
}

QString MainWindow::readDistributionVersion() const
{
    QFile file(QStringLiteral("/etc/norvo_version"));
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    QString version = stream.readLine().simplified();
    file.close();
    return version;
}
