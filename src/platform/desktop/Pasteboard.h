#pragma once

#include <QImage>

#include <memory>

namespace corvane {

// The general pasteboard, as the capture operations use it. Callable from any
// thread.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    virtual void clearContents() = 0;
    // Replaces the contents with the image as the single object.
    virtual void writeImage(const QImage &image) = 0;

    // The system clipboard unless one was set (tests set a fake).
    static std::shared_ptr<Pasteboard> general();
    // Nothing restores the system clipboard.
    static void setGeneral(std::shared_ptr<Pasteboard> pasteboard);
};

// The system clipboard. Without a QGuiApplication there is none, and it does
// nothing.
class ClipboardPasteboard : public Pasteboard {
public:
    void clearContents() override;
    void writeImage(const QImage &image) override;
};

} // namespace corvane
