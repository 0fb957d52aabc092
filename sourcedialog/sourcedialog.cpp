#include "sourcedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include "ui_sourcedialog.h"

SourceDialog::SourceDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::SourceDialog)
{
    ui->setupUi(this);
    // The help text stays one literal, as translators see it.
    // clang-format off
    ui->label->setText(tr("An ISO image file or network repository can be selected as the source. Several sources may be indicated. Possible sources:\n- ISO/repository of the installation disk;\n- ISO/repository with update;\n- ISO/repository with development tools;\n- ISO/repository with updated development tools."));
    // clang-format on
    ui->m_sourceLineEdit->setPlaceholderText(tr("Specify the path to the ISO image"));
    connect(ui->m_isoRadioButton, &QRadioButton::toggled, this, &SourceDialog::typeChanged);
    connect(ui->m_netRadioButton, &QRadioButton::toggled, this, &SourceDialog::typeChanged);
    connect(ui->m_browseToolButton, &QToolButton::clicked, this, &SourceDialog::selectFile);
    ui->m_sourceLineEdit->setFocus(Qt::OtherFocusReason);
}

SourceDialog::SourceDialog(const QString& source, QWidget* parent)
    : SourceDialog(parent)
{
    ui->m_sourceLineEdit->setText(source);
    static const QRegularExpression isoImage(QStringLiteral(".*[.]iso$"));
    if (isoImage.match(source).hasMatch())
        ui->m_isoRadioButton->setChecked(true);
    else
        ui->m_netRadioButton->setChecked(true);
}

SourceDialog::~SourceDialog()
{
    delete ui;
}

QString SourceDialog::source() const
{
    return ui->m_sourceLineEdit->text().trimmed();
}

void SourceDialog::accept()
{
    const bool iso = ui->m_isoRadioButton->isChecked();
    const QRegularExpression pattern(
        iso ? QStringLiteral("^.+[.]iso$") : QStringLiteral("^(http|https|ftp|file)://.+$"));
    const QString text = source();
    if (pattern.match(text).hasMatch() && !text.contains(QLatin1Char(' '))) {
        QDialog::accept();
        return;
    }
    const QString problem
        = iso ? tr("The source is not ISO image. ") : tr("The source is not a network address. ");
    QMessageBox::warning(this, QString(), problem + tr("Enter the correct source."), QMessageBox::Ok);
}

void SourceDialog::typeChanged(bool check)
{
    Q_UNUSED(check)
    const bool iso = ui->m_isoRadioButton->isChecked();
    ui->m_sourceLineEdit->setPlaceholderText(
        iso ? tr("Specify the path to the ISO image") : tr("Specify a link to the network repository"));
    ui->m_browseToolButton->setVisible(iso);
}

void SourceDialog::selectFile()
{
    QString directory = QFileInfo(ui->m_sourceLineEdit->text()).absolutePath();
    if (directory.isEmpty() || !QFileInfo(directory).isDir())
        directory = QDir::currentPath();
    const QString file
        = QFileDialog::getOpenFileName(this, tr("Select ISO image"), directory, tr("ISO images (*.iso)"));
    if (file.isEmpty())
        return;
    ui->m_sourceLineEdit->setText(file);
    // The next browse from an empty line starts where this one ended.
    QDir::setCurrent(QFileInfo(file).absolutePath());
}
