// Cursor files (".cur") and animated cursors (".ani"): the loader that turns
// such a file into a cursor handle, and TCURObject, the simple graphic that
// draws a loaded cursor into a 24-bit bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "picture/Graphics.h"

namespace tolvane {

// The cursor of a cursor or icon file, or the first frame of an animated
// cursor, read from the stream's position: a new handle the caller destroys
// (DestroyIcon), or 0 when the data is no cursor.
HICON LoadCursorFromStream(TStream& stream);
// The same for a named file; 0 also when the file cannot be opened.
HICON LoadCursorFromFile(const std::string& fileName);

// Destroys a cursor handle when it goes out of scope.
class TCursorHandle {
public:
  explicit TCursorHandle(HICON handle = 0) : FHandle(handle) {}
  TCursorHandle(const TCursorHandle&) = delete;
  TCursorHandle& operator=(const TCursorHandle&) = delete;
  ~TCursorHandle() { Reset(); }
  HICON Get() const { return FHandle; }
  void Reset(HICON handle = 0) {
    if (FHandle) DestroyIcon(FHandle);
    FHandle = handle;
  }

private:
  HICON FHandle;
};

class TCURObject : public TGraphic {
  TOLVANE_CLASS(TCURObject)
public:
  TCURObject();
  ~TCURObject() override;

  // Draws the file's cursor on white into a bitmap of the cursor's size;
  // anything but a cursor raises Exception "Invalid cursor".
  void LoadFile(const std::string& fileName) override;
  // The bitmap unscaled at the canvas's origin, whatever the rectangle.
  void Render(TCanvas& canvas, const TRect& rect) override;
  int32_t ImageWidth() override { return Width; }
  int32_t ImageHeight() override { return Height; }
  // Only store the value.
  void ResizeWidth(int32_t value) override { Width = value; }
  void ResizeHeight(int32_t value) override { Height = value; }
  // Everything else raises Exception "Not supported".
  bool IsBlank() override;
  void SaveFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, THandle data, HPALETTE palette) override;
  void SaveClipboard(uint16_t& format, THandle& data, HPALETTE& palette) override;

  const TBitmap& Image() const { return *FBitmap; }

  int32_t Width = 0;
  int32_t Height = 0;

private:
  std::unique_ptr<TBitmap> FBitmap;
};

// Registers "CUR" and "ANI" with the picture registry / removes the class.
void InitializeCURImageUnit();
void FinalizeCURImageUnit();

}  // namespace tolvane
