#include "app/ui/message_box.h"

#include <deque>

#include "app/string_table.h"

namespace {

struct QueuedAnswer {
    QMessageBox::StandardButton answer;
    std::function<void()> whileShown;
};

std::deque<QueuedAnswer>& queued_answers() {
    static std::deque<QueuedAnswer> answers;
    return answers;
}

QStringList& answered_texts() {
    static QStringList texts;
    return texts;
}

}  // namespace

QMessageBox::StandardButton TalvexMessageBox(QWidget* owner, const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton) {
    if (!queued_answers().empty()) {
        QueuedAnswer queued = std::move(queued_answers().front());
        queued_answers().pop_front();
        answered_texts().append(text);
        if (queued.whileShown) queued.whileShown();
        return queued.answer;
    }
    QMessageBox box(QMessageBox::Information,
                    QString::fromStdWString(LoadCachedString(IDS_WARNING)), text, buttons, owner);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

namespace MessageBoxSeam {

void QueueAnswer(QMessageBox::StandardButton answer, std::function<void()> whileShown) {
    queued_answers().push_back({answer, std::move(whileShown)});
}

QStringList Take() {
    QStringList texts;
    texts.swap(answered_texts());
    return texts;
}

void Reset() {
    queued_answers().clear();
    answered_texts().clear();
}

}  // namespace MessageBoxSeam
