#pragma once

#include <QStringList>

class QAction;

namespace corvane {

// What a style controller tells when the user picks a pane.
class SettingsStyleControllerDelegate {
public:
    virtual void activateTab(int index, bool animated) = 0;

protected:
    ~SettingsStyleControllerDelegate() = default;
};

// One way of switching panes from the toolbar: what goes into the toolbar and
// how the current pane is marked there.
class SettingsStyleController {
public:
    virtual ~SettingsStyleController() = default;

    // The delegate is not owned; its owner clears it before going away.
    SettingsStyleControllerDelegate *delegate() const { return m_delegate; }
    void setDelegate(SettingsStyleControllerDelegate *delegate) { m_delegate = delegate; }

    // Whether a resized window keeps its horizontal centre.
    virtual bool keepsWindowCentered() const = 0;
    // The toolbar's items in order; Settings::flexibleSpaceItemIdentifier
    // stands for an expanding gap.
    virtual QStringList toolbarItemIdentifiers() const = 0;
    // The toolbar item of an identifier, owned by this controller; nothing for
    // an identifier it does not know.
    virtual QAction *toolbarItem(const QString &identifier) = 0;
    // Marks pane `index` as the current one.
    virtual void selectTab(int index) = 0;

protected:
    // Tells the delegate, if it is still there, to show pane `index`.
    void activate(int index)
    {
        if (m_delegate)
            m_delegate->activateTab(index, true);
    }

private:
    SettingsStyleControllerDelegate *m_delegate = nullptr;
};

} // namespace corvane
