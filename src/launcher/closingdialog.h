#pragma once

#include <QDialog>
#include <QTime>

#include <optional>

class QLabel;
class QLineEdit;

namespace tarv {

// "閉店時刻": the operator types the closing time as hh:mm, or clears it with "なし". OK with an empty
// box clears it too; a text that is no time of day is refused in the dialog, which stays open.
class ClosingTimeDialog : public QDialog
{
    Q_OBJECT

public:
    ClosingTimeDialog(std::optional<QTime> current, QWidget* parent = nullptr);

    // The answer once accepted: the closing time, or none.
    std::optional<QTime> closing() const { return m_closing; }
    QLineEdit* timeBox() const { return m_box; }

private:
    void accept() override;

    QLineEdit* m_box = nullptr;
    QLabel* m_problem = nullptr;
    std::optional<QTime> m_closing;
};

} // namespace tarv
