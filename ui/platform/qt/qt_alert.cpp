#include "ui/platform/qt/qt_alert.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

#include "ui/platform/qt/qt_convert.h"

int64_t RunQtAlert(const QString& windowTitle, const std::string& title, const std::string& text,
                   const std::vector<PlatformAlertButton>& buttons) {
    QMessageBox box;
    box.setWindowTitle(windowTitle);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowModality(Qt::ApplicationModal);
    // The texts are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(title));
    box.setInformativeText(ToQString(text));
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
    }

    std::vector<std::pair<QAbstractButton*, int64_t>> tags;
    if (buttons.empty()) {
        tags.emplace_back(box.addButton(QMessageBox::Ok), 0);
    } else {
        for (size_t index = 0; index < buttons.size(); ++index) {
            const QString label = ToQString(buttons[index].title);
            // The first button is the default one (Return); a Cancel button answers Escape.
            QMessageBox::ButtonRole role = QMessageBox::ActionRole;
            if (index == 0) {
                role = QMessageBox::AcceptRole;
            } else if (label == QStringLiteral("Cancel")) {
                role = QMessageBox::RejectRole;
            }
            QPushButton* button = box.addButton(label, role);
            if (index == 0) box.setDefaultButton(button);
            tags.emplace_back(button, buttons[index].tag);
        }
    }

    box.exec();
    const QAbstractButton* pressed = box.clickedButton();
    for (const auto& [button, tag] : tags) {
        if (button == pressed) return tag;
    }
    return 0;
}
