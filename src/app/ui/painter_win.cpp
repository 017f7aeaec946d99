#include "painter_win.h"

#include <dwrite_1.h>

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace {

D2D1_COLOR_F Colour(uint32_t rgb, float alpha) {
  return D2D1::ColorF(static_cast<float>(rgb >> 16 & 0xFF) / 255.0f, static_cast<float>(rgb >> 8 & 0xFF) / 255.0f,
                      static_cast<float>(rgb & 0xFF) / 255.0f, alpha);
}

// Path helpers in a 24-unit (icons) or 469 x 133 (wordmark) design box.
struct Path {
  ComPtr<ID2D1PathGeometry> geometry;
  ComPtr<ID2D1GeometrySink> sink;
  explicit Path(ID2D1Factory* factory) {
    if (SUCCEEDED(factory->CreatePathGeometry(&geometry))) geometry->Open(&sink);
  }
  void Begin(float x, float y) {
    if (sink) sink->BeginFigure(D2D1::Point2F(x, y), D2D1_FIGURE_BEGIN_HOLLOW);
    px_ = x, py_ = y;
  }
  void Line(float x, float y) {
    if (sink) sink->AddLine(D2D1::Point2F(x, y));
    px_ = x, py_ = y;
  }
  // A clockwise quarter arc from the current point to (x, y), as the cubic
  // Bezier curve that follows a circle to within 0.03 % of its radius (Wine
  // draws Direct2D arc segments as straight lines).
  void Arc(float x, float y) {
    if (!sink) return;
    const float hx = (x - px_) / 2, hy = (y - py_) / 2;
    const float cx = px_ + hx - hy, cy = py_ + hy + hx;
    const float k = 0.5522847f;
    sink->AddBezier(D2D1::BezierSegment(D2D1::Point2F(px_ - k * (py_ - cy), py_ + k * (px_ - cx)),
                                        D2D1::Point2F(x + k * (y - cy), y - k * (x - cx)), D2D1::Point2F(x, y)));
    px_ = x, py_ = y;
  }
  void End(bool closed = false) {
    if (sink) sink->EndFigure(closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
  }
  // A rounded rectangle as one closed figure of lines and quarter arcs.
  void RoundedBox(float l, float t, float r, float b, float radius) {
    Begin(l + radius, t);
    Line(r - radius, t);
    Arc(r, t + radius);
    Line(r, b - radius);
    Arc(r - radius, b);
    Line(l + radius, b);
    Arc(l, b - radius);
    Line(l, t + radius);
    Arc(l + radius, t);
    End(true);
  }
  ComPtr<ID2D1PathGeometry> Done() {
    if (sink) sink->Close();
    return geometry;
  }
  float px_ = 0, py_ = 0;  // the current point
};

// Built once per Direct2D factory and shared by every Painter.
struct Shapes {
  ID2D1Factory* factory = nullptr;
  ComPtr<ID2D1StrokeStyle> stroke;
  ComPtr<ID2D1PathGeometry> icons[6];
  ComPtr<ID2D1PathGeometry> wordmark;

  void Build(ID2D1Factory* f) {
    if (factory == f) return;
    *this = Shapes{};
    factory = f;
    f->CreateStrokeStyle(D2D1::StrokeStyleProperties(D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND,
                                                     D2D1_LINE_JOIN_ROUND, 10.0f, D2D1_DASH_STYLE_SOLID, 0.0f),
                         nullptr, 0, &stroke);
    {
      Path p(f);
      p.Begin(5, 12), p.Line(19, 12), p.End();
      icons[static_cast<int>(Icon::Minimize)] = p.Done();
    }
    {
      Path p(f);
      p.Begin(6, 6), p.Line(18, 18), p.End();
      p.Begin(18, 6), p.Line(6, 18), p.End();
      icons[static_cast<int>(Icon::Close)] = p.Done();
    }
    {
      Path p(f);
      p.RoundedBox(9, 9, 21, 21, 2);
      p.Begin(5, 15), p.Line(5, 5), p.Arc(7, 3), p.Line(17, 3), p.End();
      icons[static_cast<int>(Icon::Copy)] = p.Done();
    }
    {
      Path p(f);
      p.Begin(5, 12), p.Line(10, 17), p.Line(20, 7), p.End();
      icons[static_cast<int>(Icon::Check)] = p.Done();
    }
    {
      Path p(f);
      p.RoundedBox(6, 2, 18, 22, 2.5f);
      p.Begin(11, 18), p.Line(13, 18), p.End();
      icons[static_cast<int>(Icon::Phone)] = p.Done();
    }
    {
      Path p(f);
      p.Begin(6, 9), p.Line(12, 15), p.Line(18, 9), p.End();
      icons[static_cast<int>(Icon::Chevron)] = p.Done();
    }
    // Our wordmark: the word in lower case, drawn with round strokes on a
    // 60-unit x-height (baseline 125); the accent dot follows it.
    Path p(f);
    auto ring = [&](float cx) {
      p.Begin(cx, 65), p.Arc(cx + 30, 95), p.Arc(cx, 125), p.Arc(cx - 30, 95), p.Arc(cx, 65), p.End();
    };
    ring(38);                                                            // o
    p.Begin(88, 125), p.Line(88, 65), p.End();                           // r
    p.Begin(88, 95), p.Arc(118, 65), p.End();
    p.Begin(138, 65), p.Line(165, 125), p.Line(192, 65), p.End();        // v
    ring(240);                                                           // a
    p.Begin(270, 65), p.Line(270, 125), p.End();
    p.Begin(300, 125), p.Line(300, 65), p.End();                         // n
    p.Begin(300, 95), p.Arc(330, 65), p.Arc(360, 95), p.Line(360, 125), p.End();
    wordmark = p.Done();
  }
};

Shapes& SharedShapes() {
  static Shapes shapes;
  return shapes;
}

bool HasFamily(IDWriteFontCollection* fonts, const wchar_t* name) {
  UINT32 index = 0;
  BOOL exists = FALSE;
  return fonts && SUCCEEDED(fonts->FindFamilyName(name, &index, &exists)) && exists;
}

}  // namespace

void Painter::UseTarget(ID2D1RenderTarget* target) {
  if (target != target_) {
    brushes_.clear();
    clipLayer_.Reset();
  }
  target_ = target;
}

ID2D1Geometry* Painter::RoundedGeometry(const D2D1_RECT_F& area, float radius) {
  const D2D1_ROUNDED_RECT shape = D2D1::RoundedRect(area, radius, radius);
  const bool same = clipGeometry_ && shape.rect.left == clipShape_.rect.left && shape.rect.top == clipShape_.rect.top &&
                    shape.rect.right == clipShape_.rect.right && shape.rect.bottom == clipShape_.rect.bottom &&
                    shape.radiusX == clipShape_.radiusX;
  if (!same) {
    clipGeometry_.Reset();
    if (FAILED(d2d_->CreateRoundedRectangleGeometry(shape, &clipGeometry_))) return nullptr;
    clipShape_ = shape;
  }
  return clipGeometry_.Get();
}

ID2D1Layer* Painter::ClipLayer() {
  if (!clipLayer_ && target_ && FAILED(target_->CreateLayer(&clipLayer_))) return nullptr;
  return clipLayer_.Get();
}

ID2D1SolidColorBrush* Painter::Brush(uint32_t rgb, float alpha) {
  uint64_t key = static_cast<uint64_t>(rgb) << 16 | static_cast<uint64_t>(alpha * 1000);
  auto it = brushes_.find(key);
  if (it != brushes_.end()) return it->second.Get();
  ComPtr<ID2D1SolidColorBrush> brush;
  if (!target_ || FAILED(target_->CreateSolidColorBrush(Colour(rgb, alpha), &brush))) return nullptr;
  return (brushes_[key] = brush).Get();
}

void Painter::ChooseFamilies() {
  ComPtr<IDWriteFontCollection> fonts;
  dwrite_->GetSystemFontCollection(&fonts, FALSE);
  textFamily_ = HasFamily(fonts.Get(), L"Segoe UI Variable Text") ? L"Segoe UI Variable Text"
                : HasFamily(fonts.Get(), L"Segoe UI Variable")    ? L"Segoe UI Variable"
                                                                   : L"Segoe UI";
  displayFamily_ = HasFamily(fonts.Get(), L"Segoe UI Variable Display") ? L"Segoe UI Variable Display" : textFamily_;
}

IDWriteTextFormat* Painter::Format(float size, int weight, bool display) {
  if (textFamily_.empty()) ChooseFamilies();
  uint64_t key = (static_cast<uint64_t>(size * 10) << 19 | static_cast<uint64_t>(weight)) << 1 | (display ? 1 : 0);
  auto it = formats_.find(key);
  if (it != formats_.end()) return it->second.Get();
  ComPtr<IDWriteTextFormat> format;
  if (FAILED(dwrite_->CreateTextFormat((display ? displayFamily_ : textFamily_).c_str(), nullptr,
                                       static_cast<DWRITE_FONT_WEIGHT>(weight), DWRITE_FONT_STYLE_NORMAL,
                                       DWRITE_FONT_STRETCH_NORMAL, size, L"es-ar", &format))) {
    return nullptr;
  }
  format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
  return (formats_[key] = format).Get();
}

ComPtr<IDWriteTextLayout> Painter::Layout(const std::wstring& text, float size, int weight, bool display,
                                          float spacing, float maxWidth, float maxHeight) {
  ComPtr<IDWriteTextLayout> layout;
  IDWriteTextFormat* format = Format(size, weight, display);
  if (!format || FAILED(dwrite_->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()), format, maxWidth,
                                                  maxHeight, &layout))) {
    return nullptr;
  }
  ComPtr<IDWriteTextLayout1> spaced;
  if (spacing != 0 && SUCCEEDED(layout.As(&spaced))) {
    spaced->SetCharacterSpacing(spacing / 2, spacing / 2, 0, {0, static_cast<UINT32>(text.size())});
  }
  return layout;
}

float Painter::Measure(const std::wstring& text, float size, int weight, bool display, float spacing) {
  ComPtr<IDWriteTextLayout> layout = Layout(text, size, weight, display, spacing, 2000, 200);
  DWRITE_TEXT_METRICS metrics{};
  if (!layout || FAILED(layout->GetMetrics(&metrics))) return 0;
  return metrics.widthIncludingTrailingWhitespace;
}

void Painter::Text(const std::wstring& text, const D2D1_RECT_F& box, uint32_t rgb, float size, int weight,
                   Align align, bool display, float spacing, float alpha) {
  ComPtr<IDWriteTextLayout> layout =
      Layout(text, size, weight, display, spacing, box.right - box.left, box.bottom - box.top);
  ID2D1SolidColorBrush* brush = Brush(rgb, alpha);
  if (!layout || !brush) return;
  layout->SetTextAlignment(align == Align::Leading  ? DWRITE_TEXT_ALIGNMENT_LEADING
                           : align == Align::Centre ? DWRITE_TEXT_ALIGNMENT_CENTER
                                                    : DWRITE_TEXT_ALIGNMENT_TRAILING);
  layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
  target_->DrawTextLayout(D2D1::Point2F(box.left, box.top), layout.Get(), brush,
                          D2D1_DRAW_TEXT_OPTIONS_ENABLE_COLOR_FONT);
}

void Painter::DrawIcon(Icon icon, float x, float y, float size, uint32_t rgb, float stroke) {
  Shapes& shapes = SharedShapes();
  shapes.Build(d2d_);
  ID2D1PathGeometry* geometry = shapes.icons[static_cast<int>(icon)].Get();
  ID2D1SolidColorBrush* brush = Brush(rgb);
  if (!geometry || !brush) return;
  D2D1_MATRIX_3X2_F saved;
  target_->GetTransform(&saved);
  target_->SetTransform(D2D1::Matrix3x2F::Scale(size / 24, size / 24) * D2D1::Matrix3x2F::Translation(x, y) * saved);
  target_->DrawGeometry(geometry, brush, stroke, shapes.stroke.Get());
  target_->SetTransform(saved);
}

void Painter::Circle(float cx, float cy, float radius, uint32_t rgb, float alpha) {
  if (ID2D1SolidColorBrush* brush = Brush(rgb, alpha)) {
    target_->FillEllipse(D2D1::Ellipse(D2D1::Point2F(cx, cy), radius, radius), brush);
  }
}

void Painter::Fill(const D2D1_RECT_F& box, float radius, uint32_t rgb, float alpha) {
  ID2D1SolidColorBrush* brush = Brush(rgb, alpha);
  if (!brush) return;
  if (radius > 0) {
    target_->FillRoundedRectangle(D2D1::RoundedRect(box, radius, radius), brush);
  } else {
    target_->FillRectangle(box, brush);
  }
}

void Painter::Wordmark(float x, float y, float width, float height) {
  Shapes& shapes = SharedShapes();
  shapes.Build(d2d_);
  const float k = std::min(width / 469, height / 133);
  const float left = x + (width - 469 * k) / 2 - 4 * k, top = y + (height - 133 * k) / 2 - 4 * k;
  D2D1_MATRIX_3X2_F saved;
  target_->GetTransform(&saved);
  target_->SetTransform(D2D1::Matrix3x2F::Scale(k, k) * D2D1::Matrix3x2F::Translation(left, top) * saved);
  if (ID2D1SolidColorBrush* brush = Brush(0xF2F3F5); brush && shapes.wordmark) {
    target_->DrawGeometry(shapes.wordmark.Get(), brush, 16, shapes.stroke.Get());
  }
  Circle(426, 90, 39, 0xC8F04A);
  target_->SetTransform(saved);
}
