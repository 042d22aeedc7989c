#pragma once

#include <functional>

#include <QList>
#include <QString>
#include <QStringList>

#include "platform/Shell.h"
#include "render/Regions.h"
#include "window/WindowState.h"

// A window for the workflow and pointer tests: records every repaint and every window
// operation, remembers the repainted values as the real window does (not while minimised),
// and lays the regions out for the current view, texts and caption.
class FakeWindowHost final : public window::WindowHost {
public:
    struct Draw {
        std::int32_t mouseStatus = 0;
        QString info1;
        QString info2;
        float percent = 0;
        QString caption; // strActionCaption at the moment of the repaint
    };

    // The card sizes of the two views: the window's size in pixels less the shadow.
    static constexpr int CompactW = 440, CompactH = 200;
    static constexpr int ExpandedW = 380, ExpandedH = 440;

    explicit FakeWindowHost(window::WindowState &state)
        : m_state(state) {}

    QList<Draw> draws;
    QStringList calls; // "switchViewSize", "Unload", "minimize", "beginWindowDrag"
    int pumps = 0;
    bool minimized = false;
    std::function<void()> onUnload;

    // The values a start-up repaint leaves behind.
    void setLast(const QString &info1, const QString &info2, float percent) {
        m_info1 = info1;
        m_info2 = info2;
        m_percent = percent;
    }

    void ReDraw(std::int32_t lMouseStatus, const QString &strInfo1, const QString &strInfo2,
                float lPercentValue) override {
        draws.append({lMouseStatus, strInfo1, strInfo2, lPercentValue, m_state.strActionCaption});
        if (minimized)
            return;
        m_info1 = strInfo1;
        m_info2 = strInfo2;
        m_percent = lPercentValue;
    }
    QString strLastInfo1() const override { return m_info1; }
    QString strLastInfo2() const override { return m_info2; }
    float sngLastPercent() const override { return m_percent; }

    const render::RegionRects &regions() const override {
        const bool expanded = m_state.isExpanded();
        render::LayoutInput in;
        in.W = expanded ? ExpandedW : CompactW;
        in.H = expanded ? ExpandedH : CompactH;
        in.lThemeStyle = m_state.lThemeStyle;
        in.hasTitle = !m_state.strTitleText.trimmed().isEmpty();
        in.hasStatus =
            !render::DisplayedStatusText(m_info2, m_state.lHoverRegion).trimmed().isEmpty();
        in.hasActionButton = !m_state.strActionCaption.isEmpty();
        m_regions = render::LayoutRegions(in);
        return m_regions;
    }

    void switchViewSize() override { calls << QStringLiteral("switchViewSize"); }
    void Unload() override {
        calls << QStringLiteral("Unload");
        if (onUnload)
            onUnload();
    }
    void minimize() override { calls << QStringLiteral("minimize"); }
    void beginWindowDrag() override { calls << QStringLiteral("beginWindowDrag"); }
    void processPendingEvents() override { ++pumps; }

private:
    window::WindowState &m_state;
    QString m_info1;
    QString m_info2;
    float m_percent = 0;
    mutable render::RegionRects m_regions;
};

// Records what the program asks the desktop to open.
class RecordingShell final : public platform::Shell {
public:
    QStringList opened;
    bool open(const QString &pathOrUrl) override {
        opened << pathOrUrl;
        return true;
    }
};
