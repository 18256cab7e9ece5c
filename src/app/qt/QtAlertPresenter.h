#pragma once

#include "platform/desktop/AlertPresenter.h"

#include <QPointer>

#include <vector>

class QDialog;

namespace corvane {

// Alerts as modal Qt dialogs. Buttons stand in spec order from the right,
// the first rightmost; Return presses the button that has Return as key
// equivalent and nothing else; Escape closes without a button.
class QtAlertPresenter : public AlertPresenter {
public:
    AlertResponse run(const AlertSpec &spec) override;
    void closeOpenAlerts() override;

private:
    // Innermost last.
    std::vector<QPointer<QDialog>> m_open;
};

} // namespace corvane
