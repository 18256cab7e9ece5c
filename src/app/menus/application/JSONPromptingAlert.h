#pragma once

#include "platform/desktop/AlertPresenter.h"

#include <QImage>
#include <QString>
#include <QUrl>

namespace corvane {

class Application;

// The alert in which the user writes the JSON payload of a push
// notification for one application: a code editor showing a sample while
// empty, "Send" enabled only while something but blanks is typed, and help
// that opens the vendor's page on remote notifications.
namespace JSONPromptingAlert {

// What the editor shows while it is empty.
extern const QString samplePayload;
extern const QUrl documentationUrl;

// On the main thread. A remembered payload starts the editor (and so
// enables "Send"); the alert is run through the AlertPresenter.
AlertSpec spec(Application &application, const QString &lastPayload = {});

// "Will be delivered to Demo on iPhone 15 (iOS 17.2)."; empty once the
// device is gone.
QString informativeText(const Application &application);

// Whether "Send" is enabled for the editor's text.
bool canSend(const QString &text);

// The trimmed text, as an object with the single key aps unless its lower
// case mentions "aps" anywhere. The JSON is not checked: it goes as typed.
QString payload(const QString &text);

// The application's icon in the notification frame: d = W × 260/301 of the
// frame's width W; the icon (else the stand-in) as a d × d thumbnail with
// corners of radius 0.22·d in the bottom-left corner, the frame drawn over
// it; the frame alone when no thumbnail can be made.
QImage icon(const QImage &frame, const QImage &applicationIcon, const QImage &standIn);

} // namespace JSONPromptingAlert
} // namespace corvane
