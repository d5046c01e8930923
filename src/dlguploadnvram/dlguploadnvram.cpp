#include "dlguploadnvram.h"
#include "ui_dlguploadnvram.h"

#include <QCoreApplication>
#include <QPalette>
#include <QPushButton>

dlgUploadNVRAM::dlgUploadNVRAM(QWidget *parent) : QDialog(parent), ui(new Ui::dlgUploadNVRAM)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(Qt::Window);

    // The style sheet colours the buttons too: at every paint it shades a
    // copy of a button's palette from that colour before the base style
    // draws the button. A copy that differs from the button's own palette
    // gets a new cache key, so each paint left one more image of the button
    // (about 9 KiB) in the application's pixmap cache, up to its 10 MiB
    // limit. With the shades already in the button's palette the copy stays
    // the same, and the images cached at the first showing serve again.
    for (QPushButton *button : { ui->btnOK, ui->btnCancel }) {
        button->ensurePolished();
        QPalette palette = button->palette();
        const QColor background = palette.color(QPalette::Button);
        palette.setColor(QPalette::Light, background.lighter(115));
        palette.setColor(QPalette::Midlight, background.lighter(107));
        palette.setColor(QPalette::Dark, background.darker(150));
        palette.setColor(QPalette::Shadow, background.darker(300));
        button->setPalette(palette);
    }
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
