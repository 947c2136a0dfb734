#include "timesignal/timesignalwindow.h"

#include "dialogs/droprunner.h"
#include "dialogs/operatordialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tarv {
namespace {

QListWidget* listBox(const QString& name)
{
    auto* list = named(new QListWidget, name);
    list->setUniformItemSizes(true);
    return list;
}

QPushButton* button(const QString& name, const QString& caption)
{
    return named(new QPushButton(caption), name);
}

} // namespace

TimeSignalWindow::TimeSignalWindow(TimeSignals& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_settings(settings),
      m_drop(new DropRunner(this, QStringLiteral("インストール中: %1 / %2"), QStringLiteral("時報インストール"))),
      m_prompts(std::make_unique<WindowPrompts>([this] { return m_drop->dialogParent(); }))
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("時報設定"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_settings.setPrompts(m_prompts.get());
    buildWidgets();
    Form_Load();
}

bool TimeSignalWindow::dropRunning() const
{
    return m_drop->running();
}

TimeSignalWindow::~TimeSignalWindow()
{
    delete m_drop; // while the prompts its drop uses are still there
    m_settings.setPrompts(nullptr);
}

void TimeSignalWindow::buildWidgets()
{
    cmd_ziho_active = button(QStringLiteral("cmd_ziho_active"), QStringLiteral("時報を有効にする"));

    // Frame3: installation by drag and drop; the drop label is the log.
    auto* frame3 = named(new QGroupBox(QStringLiteral("時報インストール")), QStringLiteral("Frame3"));
    lbl_ziho_inst = named(new DropLabel([this](const QMimeData* data) { lbl_ziho_inst_OLEDragDrop(data); }),
                          QStringLiteral("lbl_ziho_inst"));
    auto* logArea = new QScrollArea;
    logArea->setWidget(lbl_ziho_inst);
    logArea->setWidgetResizable(true);
    logArea->setMinimumHeight(140);
    chk_autocopy = checkedBox(QStringLiteral("chk_autocopy"), QStringLiteral("AutoNumbering"));
    chk_srcdel = checkedBox(QStringLiteral("chk_srcdel"), QStringLiteral("SauceDelete"));
    auto* installLayout = new QGridLayout(frame3);
    installLayout->addWidget(logArea, 0, 0, 1, 2);
    installLayout->addWidget(chk_autocopy, 1, 0);
    installLayout->addWidget(chk_srcdel, 1, 1);

    // Frame2: the installed and the enabled entries.
    auto* frame2 = named(new QGroupBox(QStringLiteral("時報動画設定")), QStringLiteral("Frame2"));
    lst_ziho_all = listBox(QStringLiteral("lst_ziho_all"));
    lst_ziho_act = listBox(QStringLiteral("lst_ziho_act"));
    cmd_ziho_file_true = button(QStringLiteral("cmd_ziho_file_true"), QStringLiteral("->"));
    cmd_ziho_file_del = button(QStringLiteral("cmd_ziho_file_del"), QStringLiteral("<-"));
    cmd_ziho_all_del = button(QStringLiteral("cmd_ziho_all_del"), QStringLiteral("<-Del"));
    cmd_ziho_act_del = button(QStringLiteral("cmd_ziho_act_del"), QStringLiteral("Del->"));
    cmd_ziho_file_save = button(QStringLiteral("cmd_ziho_file_save"), QStringLiteral("Save"));
    fle_ziho = listBox(QStringLiteral("fle_ziho"));
    fle_ziho->setSelectionMode(QAbstractItemView::NoSelection);
    auto* moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    for (QPushButton* b :
         {cmd_ziho_file_true, cmd_ziho_file_del, cmd_ziho_all_del, cmd_ziho_act_del, cmd_ziho_file_save})
        moveButtons->addWidget(b);
    moveButtons->addStretch();
    auto* entryLayout = new QGridLayout(frame2);
    entryLayout->addWidget(named(new QLabel(QStringLiteral("時報動画一覧")), QStringLiteral("Label1")), 0, 0);
    entryLayout->addWidget(named(new QLabel(QStringLiteral("有効な時報")), QStringLiteral("Label2")), 0, 2);
    entryLayout->addWidget(lst_ziho_all, 1, 0);
    entryLayout->addLayout(moveButtons, 1, 1);
    entryLayout->addWidget(lst_ziho_act, 1, 2);
    entryLayout->addWidget(named(new QLabel(QStringLiteral("src")), QStringLiteral("Label3")), 0, 3);
    entryLayout->addWidget(fle_ziho, 1, 3);

    // Frame1: the times of day.
    auto* frame1 = named(new QGroupBox(QStringLiteral("時報を流す時間")), QStringLiteral("Frame1"));
    lst_ziho_time = listBox(QStringLiteral("lst_ziho_time"));
    cmd_ziho_time_set = button(QStringLiteral("cmd_ziho_time_set"), QStringLiteral("新規"));
    cmd_ziho_time_del = button(QStringLiteral("cmd_ziho_time_del"), QStringLiteral("削除"));
    cmd_ziho_time_save = button(QStringLiteral("cmd_ziho_time_save"), QStringLiteral("保存"));
    auto* timeLayout = new QGridLayout(frame1);
    timeLayout->addWidget(lst_ziho_time, 0, 0, 1, 3);
    timeLayout->addWidget(cmd_ziho_time_set, 1, 0);
    timeLayout->addWidget(cmd_ziho_time_del, 1, 1);
    timeLayout->addWidget(cmd_ziho_time_save, 1, 2);

    auto* right = new QVBoxLayout;
    right->addWidget(frame2, 2);
    right->addWidget(frame1, 1);
    right->addWidget(cmd_ziho_active);
    auto* top = new QHBoxLayout(this);
    top->addWidget(frame3, 1);
    top->addLayout(right, 2);
    resize(960, 560);

    connect(cmd_ziho_active, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_active_Click);
    connect(lst_ziho_all, &QListWidget::itemClicked, this, [this] { cmd_ziho_file_true->setEnabled(true); });
    connect(lst_ziho_act, &QListWidget::itemClicked, this, [this] { cmd_ziho_file_del->setEnabled(true); });
    connect(lst_ziho_time, &QListWidget::itemClicked, this, [this] { cmd_ziho_time_del->setEnabled(true); });
    connect(cmd_ziho_file_true, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_file_true_Click);
    connect(cmd_ziho_file_del, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_file_del_Click);
    connect(cmd_ziho_file_save, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_file_save_Click);
    connect(cmd_ziho_all_del, &QPushButton::clicked, this, [this] { deleteEntry(TimeSignals::Side::Installed); });
    connect(cmd_ziho_act_del, &QPushButton::clicked, this, [this] { deleteEntry(TimeSignals::Side::Enabled); });
    connect(cmd_ziho_time_set, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_time_set_Click);
    connect(lst_ziho_time, &QListWidget::itemDoubleClicked, this, &TimeSignalWindow::lst_ziho_time_DblClick);
    connect(cmd_ziho_time_del, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_time_del_Click);
    connect(cmd_ziho_time_save, &QPushButton::clicked, this, &TimeSignalWindow::cmd_ziho_time_save_Click);
    connect(m_drop, &DropRunner::finished, this, &TimeSignalWindow::endDrop);
}

void TimeSignalWindow::Form_Load()
{
    m_settings.load();
    showSettings();
}

void TimeSignalWindow::showSettings()
{
    cmd_ziho_file_true->setEnabled(false);
    cmd_ziho_file_del->setEnabled(false);
    cmd_ziho_time_del->setEnabled(false);
    fillEntryLists();
    fillTimeList();
    fillSourceFolder();
    showLog();
}

void TimeSignalWindow::unload()
{
    close();
}

void TimeSignalWindow::changeEvent(QEvent* event)
{
    // The button turns on what the files hold, so it waits for a saved enabled entry.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        cmd_ziho_active->setEnabled(m_settings.savedEnabled());
    QWidget::changeEvent(event);
}

void TimeSignalWindow::closeEvent(QCloseEvent* event)
{
    m_drop->cancel();
    m_settings.unload();
    event->accept();
}

void TimeSignalWindow::cmd_ziho_active_Click()
{
    m_settings.turnOn();
    showSettings();
    hide();
}

void TimeSignalWindow::cmd_ziho_file_true_Click()
{
    m_settings.enable(lst_ziho_all->currentRow());
    fillEntryLists();
    cmd_ziho_file_true->setEnabled(false);
    cmd_ziho_file_del->setEnabled(false);
}

void TimeSignalWindow::cmd_ziho_file_del_Click()
{
    m_settings.disable(lst_ziho_act->currentRow());
    fillEntryLists();
    cmd_ziho_file_true->setEnabled(false);
    cmd_ziho_file_del->setEnabled(false);
}

void TimeSignalWindow::cmd_ziho_file_save_Click()
{
    m_settings.saveEntries();
    cmd_ziho_active->setEnabled(m_settings.savedEnabled());
    showLog();
}

void TimeSignalWindow::deleteEntry(TimeSignals::Side side)
{
    QListWidget* list = side == TimeSignals::Side::Installed ? lst_ziho_all : lst_ziho_act;
    if (list->currentRow() < 0 || !m_settings.deleteEntry(side, list->currentRow())) {
        showLog();
        return;
    }
    fillEntryLists();
    fillSourceFolder();
    showLog();
}

void TimeSignalWindow::cmd_ziho_time_set_Click()
{
    if (m_settings.addTime(lst_ziho_time->currentRow()))
        fillTimeList();
}

void TimeSignalWindow::lst_ziho_time_DblClick()
{
    if (m_settings.changeTime(lst_ziho_time->currentRow()))
        fillTimeList();
}

void TimeSignalWindow::cmd_ziho_time_del_Click()
{
    const int row = lst_ziho_time->currentRow();
    if (row < 0)
        return;
    m_settings.removeTime(row);
    fillTimeList();
}

void TimeSignalWindow::cmd_ziho_time_save_Click()
{
    m_settings.saveTimes();
    showLog();
}

void TimeSignalWindow::lbl_ziho_inst_OLEDragDrop(const QMimeData* data)
{
    if (m_drop->running() || !data || !data->hasUrls())
        return;
    const QStringList files = droppedLocalFiles(data->urls());
    if (files.isEmpty())
        return;
    m_drop->start(m_settings.newInstallation(files, {chk_autocopy->isChecked(), chk_srcdel->isChecked()}));
}

void TimeSignalWindow::endDrop(bool refreshLists)
{
    if (refreshLists) {
        m_settings.reloadInstalled();
        fillEntryLists();
        fillSourceFolder();
    }
    showLog();
    emit dropFinished();
}

void TimeSignalWindow::fillEntryLists()
{
    lst_ziho_all->clear();
    for (const SignalEntry& entry : m_settings.installed())
        lst_ziho_all->addItem(entry.displayText());
    lst_ziho_act->clear();
    for (const SignalEntry& entry : m_settings.enabled())
        lst_ziho_act->addItem(entry.displayText());
}

void TimeSignalWindow::fillTimeList()
{
    lst_ziho_time->clear();
    for (const TimeItem& item : m_settings.timeList())
        lst_ziho_time->addItem(item.displayText());
    cmd_ziho_time_del->setEnabled(false);
}

void TimeSignalWindow::fillSourceFolder()
{
    fle_ziho->clear();
    fle_ziho->addItems(m_settings.sourceFiles());
}

void TimeSignalWindow::showLog()
{
    lbl_ziho_inst->setText(shownText(m_settings.log().text()));
}

} // namespace tarv
