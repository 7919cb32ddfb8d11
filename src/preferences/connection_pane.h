#pragma once
// The settings window's connection pane: finding the bridge, pairing with it,
// the connection status with Connect/Disconnect, the debug report link and the
// version line. It holds no bridge logic; it reads and writes AppSettings and
// calls the operations it is given.

#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/app_settings.h"
#include "base/dispatch.h"
#include "bridge/discovery.h"
#include "preferences/link_explainer.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSvgRenderer;

namespace lumora::prefs {

struct ConnectionActions {
    // Finds the bridge; blocks for up to ~10 s, so the pane calls it on a
    // worker. Returns the address (empty when none was found) and its id.
    std::function<FoundBridge()> detect;
    // Takes what detection found and connects; called on the user-interface
    // thread. Empty: the address goes into the settings and connectToBridge runs.
    std::function<void(const FoundBridge&)> useFound;
    // Both return at once; called on the user-interface thread.
    std::function<void()> connectToBridge;
    std::function<void()> disconnectBridge;
    // The person trusts the certificate with this SHA-256 fingerprint (a
    // software bridge's own); connects with it.
    std::function<void(const std::string& fingerprint)> trustCertificate;
    // Starts the debug report; called on the user-interface thread, does its
    // blocking part on a worker itself.
    std::function<void()> sendDebug;
    std::function<void()> showDebugWindow;
    std::string version;  // the release version, may be empty
};

// The set-up and status block: header or error bar, the Automatic/Manual
// form while not connected, and the status row.
class ConfigurationPart : public QWidget {
    Q_OBJECT
  public:
    // How long Detect and the form's Connect wait after clearing the error,
    // so an old message visibly goes before the new attempt.
    static constexpr auto kActionDelay = std::chrono::milliseconds(500);

    ConfigurationPart(AppSettings& settings, const ConnectionActions& actions,
                      QWidget* parent = nullptr);
    ~ConfigurationPart() override;

    // 0 Automatic, 1 Manual; 0 whenever the part is built.
    int connectionType() const { return connectionType_; }
    void setConnectionType(int type);
    bool isDetecting() const { return detecting_; }

    QLabel* title() const { return title_; }
    QLabel* errorBar() const { return errorBar_; }
    QWidget* form() const { return form_; }
    QRadioButton* automaticChoice() const { return automatic_; }
    QRadioButton* manualChoice() const { return manual_; }
    QLineEdit* addressField() const { return address_; }
    QPushButton* formConnectButton() const { return formConnect_; }
    QPushButton* detectButton() const { return detect_; }
    QWidget* linkHint() const { return linkHint_; }
    LinkExplainer* linkExplainer() const { return explainer_; }
    QLabel* statusLabel() const { return status_; }
    QPushButton* statusButton() const { return statusButton_; }
    QLabel* connectedHint() const { return connectedHint_; }
    // How the connected bridge is reached: secure with its id, or plain HTTP.
    QLabel* securityLine() const { return security_; }
    // Whether changes arrive as they happen (the event stream) or by reading.
    QLabel* liveLine() const { return live_; }
    // After a refusal the person may overrule: the fingerprint and the button.
    QWidget* trustOffer() const { return trustOffer_; }
    QLabel* trustFingerprint() const { return trustFingerprint_; }
    QPushButton* trustButton() const { return trustButton_; }

  protected:
    void changeEvent(QEvent*) override;

  private:
    void refresh();
    void applyColors();
    void detect();
    void formConnect();
    void statusButtonClicked();
    // Clears the error now and runs `work` on the UI thread after the delay;
    // a second click within the delay replaces the first.
    void afterDelay(std::function<void()> work);
    // Empties the stored and current user name and pairs afresh. Refuses, with
    // the reason in the error bar, when the address is not one.
    void reconnect();

    AppSettings& settings_;
    ConnectionActions actions_;
    int observer_ = 0;
    int connectionType_ = 0;
    bool detecting_ = false;
    std::weak_ptr<RepeatingTimer> delayed_;
    // Lets background results notice that the pane is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    QLabel* title_;
    QLabel* errorBar_;
    QWidget* form_;
    QButtonGroup* choice_;
    QRadioButton* automatic_;
    QRadioButton* manual_;
    QWidget* manualRow_;
    QLineEdit* address_;
    QPushButton* formConnect_;
    QWidget* automaticRow_;
    QPushButton* detect_;
    QWidget* linkHint_;
    QLabel* linkHintText_;
    LinkExplainer* explainer_;
    QLabel* status_;
    QPushButton* statusButton_;
    QLabel* connectedHint_;
    QLabel* security_;
    QLabel* live_;
    QWidget* trustOffer_;
    QLabel* trustFingerprint_;
    QPushButton* trustButton_;
    std::string offeredFingerprint_;
};

// The pane: what keeps the settings from their file and a user name that
// could not be saved (while there is such), the configuration block, the
// debug report link while not connected, and the version line that opens the
// debug window.
class ConnectionView : public QWidget {
    Q_OBJECT
  public:
    ConnectionView(AppSettings& settings, ConnectionActions actions, QWidget* parent = nullptr);
    ~ConnectionView() override;

    ConfigurationPart* configuration() const { return configuration_; }
    QLabel* settingsNotice() const { return settingsNotice_; }
    QWidget* unsavedUserRow() const { return unsavedUserRow_; }
    QLineEdit* unsavedUserField() const { return unsavedUser_; }
    LinkLabel* debugLink() const { return debugLink_; }
    LinkLabel* versionLine() const { return version_; }
    bool debugSent() const { return debugSent_; }

    // The words for what keeps the settings from their file.
    static QString storeProblemText(const StoreProblem& problem);

  protected:
    void changeEvent(QEvent*) override;

  private:
    void refresh();
    void applyColors();

    AppSettings& settings_;
    ConnectionActions actions_;
    int observer_ = 0;
    bool debugSent_ = false;
    QLabel* settingsNotice_;
    QWidget* unsavedUserRow_;
    QLineEdit* unsavedUser_;
    ConfigurationPart* configuration_;
    LinkLabel* debugLink_;
    LinkLabel* version_;
};

}  // namespace lumora::prefs
