#pragma once
// Pictures in and out of the drawn interface, through WIC.
#include <d2d1.h>
#include <wrl/client.h>
#include <wincodec.h>

#include <string>

// Any image WIC reads, as a bitmap of the render target; null on failure.
Microsoft::WRL::ComPtr<ID2D1Bitmap> LoadImageBitmap(IWICImagingFactory* wic, const std::wstring& path,
                                                    ID2D1RenderTarget* target);
// The premultiplied bitmap as a straight-alpha PNG; true only when every step worked.
bool SaveBitmapPng(IWICImagingFactory* wic, IWICBitmap* bitmap, const std::wstring& path);

// A premultiplied BGRA WIC bitmap of width x height pixels with a software
// Direct2D target on it at `dpi`: the drawing surface of the captures and of
// the tray icon.
struct WicCanvas {
  Microsoft::WRL::ComPtr<IWICImagingFactory> wic;
  Microsoft::WRL::ComPtr<IWICBitmap> bitmap;
  Microsoft::WRL::ComPtr<ID2D1RenderTarget> target;
};
// False when any part cannot be made.
bool MakeWicCanvas(ID2D1Factory* d2d, unsigned width, unsigned height, float dpi, WicCanvas* canvas);
