#include "dlguploadnvram.h"
#include "ui_dlguploadnvram.h"

#include <QCoreApplication>

dlgUploadNVRAM::dlgUploadNVRAM(QWidget *parent) : QDialog(parent), ui(new Ui::dlgUploadNVRAM)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(Qt::Window);
}

dlgUploadNVRAM::~dlgUploadNVRAM()
{
    delete ui;
}

void dlgUploadNVRAM::on_btnOK_clicked()
{
    hide();
    // Let the dialog vanish from the screen before the read blocks the window.
    QCoreApplication::processEvents();
    emit saveFileSelected(ui->lineEditFileName->text());
}

// Cancel starts the read just as OK does.
void dlgUploadNVRAM::on_btnCancel_clicked()
{
    on_btnOK_clicked();
}
