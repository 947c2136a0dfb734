#include "launcher/closingdialog.h"

#include "stage/turnsettings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarv {

ClosingTimeDialog::ClosingTimeDialog(std::optional<QTime> current, QWidget* parent)
    : QDialog(parent), m_closing(current)
{
    setObjectName(QStringLiteral("closingTime"));
    setWindowTitle(QStringLiteral("閉店時刻"));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(QStringLiteral("閉店時刻を hh:mm で入れてください（例 23:30）。\n"
                                             "%1 分前から、スマートフォンとカラオケ画面に残り時間が出ます。")
                                  .arg(ClosingNoticeMinutes),
                              this);
    m_box = new QLineEdit(current ? current->toString(QStringLiteral("HH:mm")) : QString(), this);
    m_box->setObjectName(QStringLiteral("closingTimeBox"));
    m_box->setPlaceholderText(QStringLiteral("hh:mm"));
    m_box->setMaxLength(5);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("closingTimeProblem"));
    m_problem->setStyleSheet(QStringLiteral("color: red"));
    m_problem->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QPushButton* none = buttons->addButton(QStringLiteral("なし"), QDialogButtonBox::ResetRole);
    none->setObjectName(QStringLiteral("closingTimeNone"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ClosingTimeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ClosingTimeDialog::reject);
    connect(none, &QPushButton::clicked, this, [this] {
        m_box->clear();
        accept();
    });
    layout->addWidget(prompt);
    layout->addWidget(m_box);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

void ClosingTimeDialog::accept()
{
    const QString text = m_box->text().trimmed();
    if (text.isEmpty()) {
        m_closing.reset();
        QDialog::accept();
        return;
    }
    const std::optional<QTime> closing = closingTimeFromContent(text.toLatin1());
    if (!closing) {
        m_problem->setText(QStringLiteral("「%1」は時刻ではありません。23:30 のように入れてください。").arg(text));
        m_problem->show();
        m_box->selectAll();
        m_box->setFocus();
        return;
    }
    m_closing = closing;
    QDialog::accept();
}

} // namespace tarv
