#pragma once
// Every message box of the tool goes through TalvexMessageBox: caption "Warning",
// the information icon, OK unless a question asks for more. Tests answer the next
// boxes in advance instead of letting them block; the texts shown are kept for them.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

QMessageBox::StandardButton TalvexMessageBox(
    QWidget* owner, const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// For tests: while answers are queued, boxes are not shown; each takes the next
// answer and its text is recorded.
namespace MessageBoxSeam {
// `whileShown` runs where the box would wait for the user, so a test can look at
// what the tool has (not) done before the answer.
void QueueAnswer(QMessageBox::StandardButton answer, std::function<void()> whileShown = {});
// Texts of the boxes answered from the queue, oldest first; Take() empties the list.
QStringList Take();
void Reset();
}  // namespace MessageBoxSeam
