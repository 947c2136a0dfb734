#include "personality/personalitywindow.h"

#include "personality/personality.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace tarv {

PersonalityWindow::PersonalityWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("性格設定"));

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lst_chara_all"));
    m_list->addItems(personalityNames());
    m_list->setCurrentRow(-1);

    m_info = new QLabel(QStringLiteral("説明書"), this);
    m_info->setObjectName(QStringLiteral("lbl_info"));
    m_info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_info->setWordWrap(true);
    m_info->setFrameShape(QFrame::StyledPanel); // the frame drawn around the description
    m_info->setMinimumSize(300, 160);

    // The buttons have no action: a choice is neither applied nor stored.
    auto* apply = new QPushButton(QStringLiteral("適用"), this);
    apply->setObjectName(QStringLiteral("cmd_appli"));
    auto* add = new QPushButton(QStringLiteral("追加"), this);
    add->setObjectName(QStringLiteral("cmd_add"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_list, 0, 0, 2, 1);
    layout->addWidget(m_info, 0, 1, 1, 2);
    layout->addWidget(apply, 1, 1);
    layout->addWidget(add, 1, 2);

    connect(m_list, &QListWidget::itemSelectionChanged, this, &PersonalityWindow::lst_chara_all_Click);
}

void PersonalityWindow::lst_chara_all_Click()
{
    const QListWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    if (const auto description = personalityDescription(item->text()))
        m_info->setText(QString(*description).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

} // namespace tarv
