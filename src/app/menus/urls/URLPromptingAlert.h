#pragma once

#include "platform/desktop/AlertPresenter.h"

#include <QString>

namespace corvane {

class Runtime;

// The prompt that asks for a URL to open on one device. It only collects the
// text and keeps "Open" disabled while the text is blank; completing or
// parsing the text is the caller's work. The text comes back as typed.
namespace URLPromptingAlert {

// The FAQ's section on deep links, which the help button opens.
inline constexpr const char *faqDeepLinksAddress = "https://quendrith.com/corvane/faq#deep-links";

// "Will be opened on <title> - <version> (<system> <version>)."
QString informativeText(const QString &deviceTitle, const Runtime &runtime);
// Whether "Open" is enabled for this text: anything but blanks.
bool acceptsText(const QString &text);
// Opens the FAQ's section in the browser; the prompt stays open.
void showHelp();

AlertSpec make(const QString &deviceTitle, const Runtime &runtime);

} // namespace URLPromptingAlert

} // namespace corvane
