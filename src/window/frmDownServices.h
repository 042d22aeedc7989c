#pragma once

// The window's own wrappers around two services it hands on: the download control's events
// and the message boxes. Included by frmDown.cpp alone.
#include "download/ctlAsyncDownload.h"
#include "platform/Events.h"
#include "platform/MessageBoxes.h"
#include "window/FormAccessibility.h"
#include "window/Workflow.h"
#include "window/frmDown.h"

namespace window {

// The download control reports from inside the network's signals. What the workflow does
// with a finished read runs event loops of its own (the view animation, message boxes), and
// an event loop nested in a network signal lets Qt delete the reply whose signal is still
// being delivered. So a finished read reaches the workflow from the event loop, and a
// cancel made meanwhile drops it, as it would have dropped a read still running.
class frmDown::ControlEvents final : public download::ctlAsyncDownloadEvents {
public:
    ControlEvents(frmDown &form, Workflow &workflow)
        : m_form(form)
        , m_workflow(workflow) {}

    void Progress(const net::AsyncProperty &X, float Percent, std::int32_t DownloadsCount,
                  qint64 BytesRead, qint64 BytesMax) override {
        m_workflow.Progress(X, Percent, DownloadsCount, BytesRead, BytesMax);
    }
    void Status(std::int32_t Status, const QString &Info) override {
        if (Status == download::DownloadStatus::Cancelled ||
            Status == download::DownloadStatus::AllCancelled)
            ++m_cancels;
        m_workflow.Status(Status, Info);
    }
    void FileSaved(const QString &FileName, const QString &Url) override {
        m_workflow.FileSaved(FileName, Url);
    }
    void Finished(const net::AsyncProperty &X, std::int32_t DownloadsCount) override {
        QMetaObject::invokeMethod(
            &m_form,
            [this, X, DownloadsCount, cancels = m_cancels] {
                if (cancels == m_cancels)
                    platform::ignoringErrors([&] { m_workflow.Finished(X, DownloadsCount); });
            },
            Qt::QueuedConnection);
    }

private:
    frmDown &m_form;
    Workflow &m_workflow;
    quint64 m_cancels = 0;
};

// The boxes the window shows are modal to it, but assistive technology reaches its
// elements all the same: while one waits for its answer they report themselves unavailable
// and a press through them does nothing.
class frmDown::CountedBoxes final : public platform::MessageBoxes {
public:
    CountedBoxes(frmDown &form, platform::MessageBoxes &boxes)
        : m_form(form)
        , m_boxes(boxes) {}

    int show(const QString &text, int style, const QString &caption) override {
        struct Open {
            frmDown &form;
            explicit Open(frmDown &f)
                : form(f) {
                if (form.m_openBoxes++ == 0)
                    form.m_accessibility->availabilityChanged();
            }
            ~Open() {
                if (--form.m_openBoxes == 0 && !form.m_unloaded)
                    form.m_accessibility->availabilityChanged();
            }
            Q_DISABLE_COPY_MOVE(Open)
        } open(m_form);
        return m_boxes.show(text, style, caption);
    }

private:
    frmDown &m_form;
    platform::MessageBoxes &m_boxes;
};

} // namespace window
