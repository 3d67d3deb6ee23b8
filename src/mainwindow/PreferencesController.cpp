#include "mainwindow/PreferencesController.h"

#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>

namespace qm {

namespace {
const QString kGeneral = QStringLiteral("General");
}

PreferencesController::PreferencesController(Preferences *prefs, QWidget *parent)
    : QMainWindow(parent, Qt::Window)
    , m_prefs(prefs)
{
    setWindowTitle(tr("Preferences"));
    setObjectName(QStringLiteral("wndPrefs"));

    m_toolbar = new QToolBar(tr("Panes"), this);
    m_toolbar->setObjectName(QStringLiteral("PrefsToolbar"));
    m_toolbar->setMovable(false);
    // The toolbar is the only way between the panes: it cannot be hidden.
    m_toolbar->toggleViewAction()->setEnabled(false);
    m_toolbar->toggleViewAction()->setVisible(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(32, 32));
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    for (const QString &id : toolbarDefaultItemIdentifiers()) {
        if (QAction *item = toolbarItemForItemIdentifier(id)) {
            group->addAction(item);
            m_toolbar->addAction(item);
        }
    }
    addToolBar(Qt::TopToolBarArea, m_toolbar);

    m_tabPrefs = new QTabWidget;
    m_tabPrefs->tabBar()->hide(); // the toolbar is the pane switcher
    m_tabPrefs->setDocumentMode(true);
    auto *general = new QWidget;
    general->setObjectName(kGeneral);
    auto *form = new QFormLayout(general);
    form->setContentsMargins(20, 16, 20, 16);
    m_lblGallery = new QLabel;
    m_lblGallery->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblGallery->setWordWrap(true);
    auto *lblSettings = new QLabel;
    lblSettings->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblSettings->setWordWrap(true);
    if (m_prefs->defaults())
        lblSettings->setText(QDir::toNativeSeparators(m_prefs->defaults()->fileName()));
    form->addRow(tr("Gallery folder:"), m_lblGallery);
    form->addRow(tr("Settings file:"), lblSettings);
    m_tabPrefs->addTab(general, kGeneral);
    setCentralWidget(m_tabPrefs);

    // The first pane is shown from the start.
    if (!m_toolbar->actions().isEmpty())
        m_toolbar->actions().first()->setChecked(true);
    selectTab(kGeneral);
    resize(460, 220);
}

QStringList PreferencesController::toolbarAllowedItemIdentifiers() { return {kGeneral}; }
QStringList PreferencesController::toolbarDefaultItemIdentifiers() { return {kGeneral}; }
QStringList PreferencesController::toolbarSelectableItemIdentifiers() { return {kGeneral}; }

QAction *PreferencesController::toolbarItemForItemIdentifier(const QString &identifier)
{
    if (identifier != kGeneral)
        return nullptr;
    auto *item = new QAction(QIcon(resourcePath(QStringLiteral("GeneralPreferences.png"))), tr("General"), this);
    item->setObjectName(kGeneral);
    item->setIconText(tr("General"));
    item->setToolTip(tr("General preferences"));
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, &PreferencesController::general);
    return item;
}

QString PreferencesController::selectedItemIdentifier() const
{
    for (QAction *a : m_toolbar->actions()) {
        if (a->isChecked())
            return a->objectName();
    }
    return QString();
}

QString PreferencesController::currentTabIdentifier() const
{
    return m_tabPrefs->currentWidget() ? m_tabPrefs->currentWidget()->objectName() : QString();
}

void PreferencesController::general()
{
    selectTab(kGeneral);
}

void PreferencesController::selectTab(const QString &identifier)
{
    for (int i = 0; i < m_tabPrefs->count(); ++i) {
        if (m_tabPrefs->widget(i)->objectName() == identifier)
            m_tabPrefs->setCurrentIndex(i);
    }
}

QMenu *PreferencesController::createPopupMenu()
{
    // Offering only to hide the pane switcher would be no help.
    return nullptr;
}

void PreferencesController::showEvent(QShowEvent *event)
{
    const QString folder = m_prefs->orvaneFolder();
    m_lblGallery->setText(folder.isEmpty() ? tr("No gallery is open.") : QDir::toNativeSeparators(folder));
    QMainWindow::showEvent(event);
}

} // namespace qm
