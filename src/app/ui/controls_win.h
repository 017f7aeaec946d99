#pragma once
// The drawn controls of the windows and their two menus.
#include "painter_win.h"

// Returns the badge's width; right-aligned badges take x as their right edge.
float DrawBadge(Painter& p, float x, float y, bool paused, bool rightAligned = false);
void DrawButton(Painter& p, const D2D1_RECT_F& box, float radius, uint32_t face, const std::wstring& text,
                uint32_t textColour, int weight, bool hovered);
// The pill "1080p · 60" with its chevron; bright (main window) takes x as the
// right edge, plain (panel) as the left. Returns its rectangle.
D2D1_RECT_F DrawQualityPill(Painter& p, const UiSnapshot& s, float x, float top, float height, float fontSize,
                            bool bright, HitList* hits);
void DrawSegmented(Painter& p, const D2D1_RECT_F& box, const wchar_t* const* items, int count, int selected,
                   bool supported, uint8_t mask, int firstId, bool check, int32_t hoverId, HitList* hits);
void DrawSlider(Painter& p, float x0, float x1, float y, float value, bool enabled, bool supported, int32_t id,
                const UiSnapshot& s, HitList* hits);
void DrawSwitch(Painter& p, float x, float y, bool on);
// The quality menu at (x, y) in a window of the given size; its regions go in front.
void DrawQualityMenu(Painter& p, const UiSnapshot& s, float x, float y, float windowWidth, float windowHeight,
                     HitList* hits);
void DrawMoreMenu(Painter& p, const UiSnapshot& s, HitList* hits);

// The notice's line in `box`: what is wrong and, right-aligned, its action
// (region kNoticeId); nothing without a notice.
inline constexpr int32_t kNoticeId = 13;
void DrawNotice(Painter& p, const UiSnapshot& s, const D2D1_RECT_F& box, float size, HitList* hits);

// The window's background: opaque, or (screenshot mode) a rounded frame on transparency.
void DrawWindowBackground(Painter& p, const UiSnapshot& s, float width, float height);
// The preview picture, the sample scene (screenshot mode) or the waiting plate.
void DrawPreviewArea(Painter& p, const UiSnapshot& s, const D2D1_RECT_F& area, float radius, float sceneScale);
