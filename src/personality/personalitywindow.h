#pragma once

#include <QWidget>

class QLabel;
class QListWidget;

namespace tarv {

// Form7: browses the five personalities and their descriptions; nothing is stored.
class PersonalityWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PersonalityWindow(QWidget* parent = nullptr);

private:
    void lst_chara_all_Click();

    QListWidget* m_list = nullptr; // lst_chara_all
    QLabel* m_info = nullptr;      // lbl_info
};

} // namespace tarv
