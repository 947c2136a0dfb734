#include "library/librarywindow.h"

#include "dialogs/droprunner.h"
#include "dialogs/operatordialogs.h"
#include "player/player.h"

#include <QAbstractListModel>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tarv {

// The library's songs as a list model: a row's text is made only when a view shows it.
class LibraryWindow::SongsModel : public QAbstractListModel
{
public:
    SongsModel(const Library& library, QObject* parent) : QAbstractListModel(parent), m_library(library) {}

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(m_library.songCount()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        return m_library.listItem(index.row());
    }
    void refresh()
    {
        beginResetModel();
        endResetModel();
    }

private:
    const Library& m_library;
};

namespace {

QListView* songListView(const QString& name, QAbstractItemModel* model)
{
    auto* view = new QListView;
    view->setObjectName(name);
    view->setUniformItemSizes(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setModel(model);
    return view;
}

} // namespace

LibraryWindow::LibraryWindow(const AppPaths& paths, Clock& clock, QWidget* previewWidget, Player& preview,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), m_paths(paths),
      m_drop(new DropRunner(this, QStringLiteral("登録中: %1 / %2"), QStringLiteral("DBインストール"))),
      m_prompts(std::make_unique<WindowPrompts>([this] { return m_drop->dialogParent(); })), m_preview(preview),
      m_library(m_paths, clock, *m_prompts, preview), m_songs(new SongsModel(m_library, this))
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("DB操作"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildWidgets(previewWidget);
    Form_Load();
}

LibraryWindow::~LibraryWindow()
{
    delete m_drop; // while the prompts and the log its drop uses are still there
    m_preview.stop();
}

void LibraryWindow::buildWidgets(QWidget* previewWidget)
{
    // Frame4: the web root.
    auto* frame4 = named(new QGroupBox(QStringLiteral("Path")), QStringLiteral("Frame4"));
    txt_path = named(new QLineEdit, QStringLiteral("txt_path"));
    cmd_path = named(new QPushButton(QStringLiteral("変更")), QStringLiteral("cmd_path"));
    auto* pathLayout = new QHBoxLayout(frame4);
    pathLayout->addWidget(named(new QLabel(QStringLiteral("CGIモード保存ルートDIR")), QStringLiteral("Label1")));
    pathLayout->addWidget(txt_path, 1);
    pathLayout->addWidget(cmd_path);

    // Frame3: editing and deleting with the preview.
    auto* frame3 = named(new QGroupBox(QStringLiteral("DB編集/削除")), QStringLiteral("Frame3"));
    lst_db_edit_allfile = songListView(QStringLiteral("lst_db_edit_allfile"), m_songs);
    previewWidget->setObjectName(QStringLiteral("gom_tes"));
    previewWidget->setMinimumSize(256, 144);
    lbl_db_edit_bef_no = named(new QLabel, QStringLiteral("lbl_db_edit_bef_no"));
    txt_db_edit_aft_no = named(new QLineEdit, QStringLiteral("txt_db_edit_aft_no"));
    txt_db_edit_aft_no->setMaxLength(6);
    txt_db_edit_new_title = named(new QLineEdit, QStringLiteral("txt_db_edit_new_title"));
    cmd_db_edit_change = named(new QPushButton(QStringLiteral("変更")), QStringLiteral("cmd_db_edit_change"));
    cmd_db_edit_del = named(new QPushButton(QStringLiteral("削除")), QStringLiteral("cmd_db_edit_del"));
    chk_db_edit_autosave = checkedBox(QStringLiteral("chk_db_edit_autosave"), QStringLiteral("AutoSave"));
    auto* editLayout = new QGridLayout(frame3);
    editLayout->addWidget(lst_db_edit_allfile, 0, 0, 5, 1);
    editLayout->addWidget(previewWidget, 0, 1, 1, 3);
    editLayout->addWidget(lbl_db_edit_bef_no, 1, 1);
    editLayout->addWidget(txt_db_edit_aft_no, 1, 2, 1, 2);
    editLayout->addWidget(txt_db_edit_new_title, 2, 1, 1, 3);
    editLayout->addWidget(cmd_db_edit_change, 3, 1);
    editLayout->addWidget(cmd_db_edit_del, 3, 2);
    editLayout->addWidget(chk_db_edit_autosave, 3, 3);
    editLayout->setColumnStretch(0, 1);
    editLayout->setRowStretch(4, 1);

    // Frame2: exports.
    auto* frame2 = named(new QGroupBox(QStringLiteral("DB出力")), QStringLiteral("Frame2"));
    cmd_dbtohtml_cgi = named(new QPushButton(QStringLiteral("DB > CGIDB")), QStringLiteral("cmd_dbtohtml_cgi"));
    cmd_dbtohtml = named(new QPushButton(QStringLiteral("DB > HTML")), QStringLiteral("cmd_dbtohtml"));
    lbl_dbtohtml_log = named(new QLabel, QStringLiteral("lbl_dbtohtml_log"));
    auto* exportLayout = new QHBoxLayout(frame2);
    exportLayout->addWidget(cmd_dbtohtml_cgi);
    exportLayout->addWidget(cmd_dbtohtml);
    exportLayout->addWidget(lbl_dbtohtml_log, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(frame4);
    right->addWidget(frame3, 1);
    right->addWidget(frame2);
    right->addLayout(buildCheckLayout());
    auto* top = new QHBoxLayout(this);
    top->addWidget(buildInstallFrame(), 1);
    top->addLayout(right, 1);
    resize(1000, 720);

    connect(cmd_path, &QPushButton::clicked, this, &LibraryWindow::cmd_path_Click);
    connect(cmd_errcheck, &QPushButton::clicked, this, &LibraryWindow::cmd_errcheck_Click);
    connect(lst_err, &QListWidget::currentRowChanged, this, &LibraryWindow::lst_err_Click);
    connect(lst_db_edit_allfile, &QListView::doubleClicked, this, &LibraryWindow::lst_db_edit_allfile_DblClick);
    connect(cmd_db_edit_change, &QPushButton::clicked, this, &LibraryWindow::cmd_db_edit_change_Click);
    connect(cmd_db_edit_del, &QPushButton::clicked, this, &LibraryWindow::cmd_db_edit_del_Click);
    connect(cmd_dbtohtml, &QPushButton::clicked, this, &LibraryWindow::cmd_dbtohtml_Click);
    connect(cmd_dbtohtml_cgi, &QPushButton::clicked, this, &LibraryWindow::cmd_dbtohtml_cgi_Click);
    connect(cmd_close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_library, &Library::songsChanged, m_songs, &SongsModel::refresh);
    connect(&m_library, &Library::logChanged, this, &LibraryWindow::showLog);
    connect(m_drop, &DropRunner::progressed, this, &LibraryWindow::dropStepped);
    connect(m_drop, &DropRunner::finished, this, &LibraryWindow::endDrop);
}

QWidget* LibraryWindow::buildInstallFrame()
{
    // Frame1: registration by drag and drop; the drop label is the log.
    auto* frame1 = named(new QGroupBox(QStringLiteral("DBインストール")), QStringLiteral("Frame1"));
    lbl_input_dd = named(new DropLabel([this](const QMimeData* data) { lbl_input_dd_OLEDragDrop(data); }),
                         QStringLiteral("lbl_input_dd"));
    auto* logArea = new QScrollArea;
    logArea->setWidget(lbl_input_dd);
    logArea->setWidgetResizable(true);
    logArea->setMinimumHeight(160);
    lst_allfile = songListView(QStringLiteral("lst_allfile"), m_songs);
    chk_autocopy = checkedBox(QStringLiteral("chk_autocopy"), QStringLiteral("AutoNumbering"));
    chk_srcdel = checkedBox(QStringLiteral("chk_srcdel"), QStringLiteral("SauceDelete"));
    chk_autosave = checkedBox(QStringLiteral("chk_autosave"), QStringLiteral("AutoSave"));
    auto* installLayout = new QGridLayout(frame1);
    installLayout->addWidget(logArea, 0, 0, 1, 3);
    installLayout->addWidget(lst_allfile, 1, 0, 1, 3);
    installLayout->addWidget(chk_autocopy, 2, 0);
    installLayout->addWidget(chk_srcdel, 2, 1);
    installLayout->addWidget(chk_autosave, 2, 2);
    installLayout->setRowStretch(0, 1);
    installLayout->setRowStretch(1, 1);
    return frame1;
}

QLayout* LibraryWindow::buildCheckLayout()
{
    // The consistency check and Quit.
    cmd_errcheck = named(new QPushButton(QStringLiteral("DB照合エラーチェック")), QStringLiteral("cmd_errcheck"));
    lst_err = named(new QListWidget, QStringLiteral("lst_err"));
    fle_err = named(new QListWidget, QStringLiteral("fle_err"));
    lst_err->setUniformItemSizes(true);
    fle_err->setUniformItemSizes(true);
    cmd_close = named(new QPushButton(QStringLiteral("Quit")), QStringLiteral("cmd_close"));
    auto* checkLayout = new QGridLayout;
    checkLayout->addWidget(cmd_errcheck, 0, 0, 1, 2);
    checkLayout->addWidget(lst_err, 1, 0);
    checkLayout->addWidget(fle_err, 1, 1);
    checkLayout->addWidget(cmd_close, 2, 0, 1, 2);
    return checkLayout;
}

void LibraryWindow::Form_Load()
{
    txt_path->setEnabled(true);
    cmd_path->setEnabled(true);
    cmd_dbtohtml_cgi->setEnabled(true);
    m_library.load();
    txt_path->setText(m_library.webRootText());
    showEditFrame();
    showLog();
}

void LibraryWindow::lbl_input_dd_OLEDragDrop(const QMimeData* data)
{
    if (m_drop->running() || !data || !data->hasUrls())
        return;
    const QStringList files = droppedLocalFiles(data->urls());
    if (files.isEmpty())
        return;
    RegistrationOptions options;
    options.autoNumbering = chk_autocopy->isChecked();
    options.deleteSource = chk_srcdel->isChecked();
    options.backup = chk_autosave->isChecked();
    m_logShown.start();
    m_drop->start(m_library.newRegistration(files, options));
}

bool LibraryWindow::dropRunning() const
{
    return m_drop->running();
}

void LibraryWindow::dropStepped(int handled, int total)
{
    emit dropProgress(handled, total);
    // A long log is slow to lay out; during a big drop show it a few times a second.
    if (m_drop->running() && m_logShown.elapsed() > 1000) {
        showLog();
        m_logShown.restart();
    }
}

void LibraryWindow::endDrop(bool refreshLists)
{
    if (refreshLists)
        m_library.refreshSongs();
    showLog();
    emit dropFinished();
}

void LibraryWindow::cmd_path_Click()
{
    m_library.saveWebRoot(txt_path->text());
}

void LibraryWindow::cmd_errcheck_Click()
{
    const ConsistencyCheck check = m_library.check(m_drop->running());
    lst_err->clear();
    lst_err->addItems(check.expected);
    fle_err->clear();
    fle_err->addItems(check.found);
    if (check.countDiffers)
        m_prompts->message(CountDiffersText);
    for (int position : check.differing) {
        lst_err->setCurrentRow(position < lst_err->count() ? position : -1);
        fle_err->setCurrentRow(position < fle_err->count() ? position : -1);
        m_prompts->message(positionDiffersText(position));
    }
}

void LibraryWindow::lst_err_Click(int row)
{
    // A position the file list does not have selects nothing there, rather than leaving an older row.
    if (row >= 0)
        fle_err->setCurrentRow(row < fle_err->count() ? row : -1);
}

void LibraryWindow::lst_db_edit_allfile_DblClick(const QModelIndex& index)
{
    if (!index.isValid() || !m_library.select(index.row()))
        return;
    showEditFrame();
}

void LibraryWindow::cmd_db_edit_change_Click()
{
    const int row = lst_db_edit_allfile->currentIndex().row();
    const auto outcome =
        m_library.change(txt_db_edit_aft_no->text(), txt_db_edit_new_title->text(), chk_db_edit_autosave->isChecked());
    showLog();
    if (outcome != Library::EditOutcome::Done)
        return;
    showEditFrame();
    if (row >= 0 && row < m_songs->rowCount({}))
        lst_db_edit_allfile->setCurrentIndex(m_songs->index(row));
}

void LibraryWindow::cmd_db_edit_del_Click()
{
    const auto outcome = m_library.remove(chk_db_edit_autosave->isChecked());
    showLog();
    if (outcome != Library::EditOutcome::Done)
        return;
    showEditFrame();
    lst_db_edit_allfile->setCurrentIndex({});
    lst_db_edit_allfile->clearSelection();
}

void LibraryWindow::cmd_dbtohtml_Click()
{
    m_library.exportSongBook(m_systemVersion);
    lbl_dbtohtml_log->setText(m_library.exportLabel());
}

void LibraryWindow::cmd_dbtohtml_cgi_Click()
{
    m_library.exportWebSongFile();
    lbl_dbtohtml_log->setText(m_library.exportLabel());
}

void LibraryWindow::showEditFrame()
{
    const EditFrame& frame = m_library.editFrame();
    lbl_db_edit_bef_no->setText(frame.beforeLabel);
    txt_db_edit_aft_no->setText(frame.newNumber);
    txt_db_edit_new_title->setText(frame.newTitle);
    cmd_db_edit_change->setEnabled(frame.selected);
    cmd_db_edit_del->setEnabled(frame.selected);
}

void LibraryWindow::showLog()
{
    lbl_input_dd->setText(shownText(m_library.log().text()));
}

} // namespace tarv
