#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QTabWidget;
class QToolBar;

namespace qm {

class Preferences;

// The preferences window: a toolbar of pane buttons over the panes. There
// is one pane, "General".
class PreferencesController : public QMainWindow
{
    Q_OBJECT
public:
    explicit PreferencesController(Preferences *prefs, QWidget *parent = nullptr);

    static QStringList toolbarAllowedItemIdentifiers();
    static QStringList toolbarDefaultItemIdentifiers();
    static QStringList toolbarSelectableItemIdentifiers();
    // A new action for "General"; null for any other identifier.
    QAction *toolbarItemForItemIdentifier(const QString &identifier);

    QToolBar *toolbar() const { return m_toolbar; }
    QTabWidget *tabPrefs() const { return m_tabPrefs; }
    QString selectedItemIdentifier() const;
    QString currentTabIdentifier() const;
    QMenu *createPopupMenu() override;

public slots:
    void general();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void selectTab(const QString &identifier);

    Preferences *m_prefs;
    QToolBar *m_toolbar;
    QTabWidget *m_tabPrefs;
    QLabel *m_lblGallery;
};

} // namespace qm
