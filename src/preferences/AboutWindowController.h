#pragma once

#include "platform/desktop/WindowController.h"
#include "preferences/BundleInfo.h"

#include <memory>

namespace corvane {

class AboutViewController;

// Presents the one about box.
class AboutWindowController : public WindowController {
public:
    explicit AboutWindowController(const BundleInfo &bundle = BundleInfo::main());
    ~AboutWindowController() override;

    static std::shared_ptr<WindowController> make();

    void showWindow() override;
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool staysOnTop) override;
    void raise() override;
    void focusContent() override;

    AboutViewController *contentViewController() const { return m_content.get(); }

private:
    std::unique_ptr<AboutViewController> m_content;
    bool m_placed = false;
};

} // namespace corvane
