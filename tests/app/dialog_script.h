// Scripts the next open-file dialog: once it is up, choose a file (confirm) or cancel it.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QString>
#include <QTimer>

namespace dialog_script {

// An empty choice cancels the dialog.
inline void Next(const QString& choice) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, choice] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        timer->stop();
        timer->deleteLater();
        if (choice.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(choice);
        static_cast<QDialog*>(dialog)->accept();  // the file dialog checks the choice
    });
    timer->start();
}

}  // namespace dialog_script
