#pragma once
// The window's question of where the mail is going: Thunderbird, a mail server
// (Maildir++), mutt or notmuch (nested Maildirs), or plain mbox files. Each choice sets
// the format, the layout and the line ends; the layout menu and the CR LF box stay
// the detailed options, the layout menu in use for plain mbox files only. With
// Thunderbird chosen, a line below says why the mail cannot go straight into its
// profile, when it cannot.

#include "batch/ThunderbirdProfile.h"

#include <QCoreApplication>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace tarnwick {

class SettingsStore;

class MailProgramChoice : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    /// A label and a menu of the programs; `layoutMenu` and `lineEndingsBox` are the
    /// window's, set by a choice the user makes.
    MailProgramChoice(QComboBox* layoutMenu, QCheckBox* lineEndingsBox, QWidget* parent);

    QComboBox* menu() const { return m_menu; }
    /// "thunderbird", "server", "mutt" or "mbox".
    QString program() const;
    /// Shows the stored choice, leaving the detailed options as stored; with none stored
    /// (the first start), Thunderbird, with the options it sets.
    void load(const SettingsStore& store);
    /// Stores the choice, and the format and layout it sets (after the window stored its
    /// layout menu: plain mbox files keep that).
    void store(SettingsStore& store) const;

    enum class Placement { Destination, IntoThunderbird, Cancel };
    /// For Thunderbird, when a profile is found under `home`, asks (window-modal)
    /// whether to place the converted mail straight into it, then calls `then` with
    /// the answer; at once with Destination when there is nothing to ask.
    void askPlacement(const std::string& home, const std::function<void(Placement)>& then);
    /// The profile to place into, when the last question was answered so.
    const std::optional<ThunderbirdProfile>& placementProfile() const { return m_profile; }

    /// Shows, below the menu, why the mail cannot go straight into a Thunderbird
    /// profile under `home` (none found, its Local Folders keep a file per message,
    /// Thunderbird has it open), when Thunderbird is chosen; hides the line otherwise.
    /// Done on each choice, at Start, and when the window becomes active again.
    void updateThunderbirdNote(const std::string& home);

protected:
    bool event(QEvent* event) override;

private:
    void apply(const QString& program);
    // The profile the mail may go straight into, or why there is none.
    ProfileSearch offeredProfile(const std::string& home) const;

    QComboBox* m_menu;
    QComboBox* m_layoutMenu;
    QCheckBox* m_lineEndingsBox;
    QLabel* m_thunderbirdNote;
    std::optional<ThunderbirdProfile> m_profile;
};

} // namespace tarnwick
