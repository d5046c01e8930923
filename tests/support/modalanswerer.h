#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// Answers modal message boxes and dialogs while a test drives the window.
// A repeating timer looks for QApplication::activeModalWidget(); a message
// box is recorded ("title|text") and closed with its OK button, any other
// modal dialog is handed to the given handler (or rejected). The timer runs
// inside the modal loops, so the code under test is never left hanging.
class ModalAnswerer
{
public:
    using DialogHandler = std::function<void(QDialog *)>;

    explicit ModalAnswerer(DialogHandler handler = DialogHandler()) : m_handler(std::move(handler))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start(20);
    }

    QStringList messages() const { return m_messages; }

    // Keeps each message box open this long, then calls beforeAnswer.
    int holdMs = 0;
    std::function<void()> beforeAnswer;

private:
    void answer()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (box != m_box) {
                m_box = box;
                m_shown.start();
            }
            if (m_shown.elapsed() < holdMs)
                return;
            if (beforeAnswer)
                beforeAnswer();
            m_messages << box->windowTitle() + QLatin1Char('|') + box->text();
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            if (ok)
                ok->click();
            else
                box->reject();
            return;
        }
        if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            if (m_handler)
                m_handler(dialog);
            else
                dialog->reject();
        }
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_box;
    QElapsedTimer m_shown;
    QStringList m_messages;
    DialogHandler m_handler;
};

#endif // MODALANSWERER_H
