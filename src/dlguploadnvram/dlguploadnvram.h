#ifndef DLGUPLOADNVRAM_H
#define DLGUPLOADNVRAM_H

#include <QDialog>
#include <QString>

QT_BEGIN_NAMESPACE
namespace Ui {
class dlgUploadNVRAM;
}
QT_END_NAMESPACE

// Asks for the bare name of the file that a read of the board goes into.
class dlgUploadNVRAM : public QDialog
{
    Q_OBJECT

public:
    explicit dlgUploadNVRAM(QWidget *parent = nullptr);
    ~dlgUploadNVRAM() override;

signals:
    void saveFileSelected(QString name);

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();

private:
    Ui::dlgUploadNVRAM *ui;
};

#endif // DLGUPLOADNVRAM_H
