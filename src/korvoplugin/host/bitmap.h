// Host bitmaps: a description (BitmapInfo), the bitmap, and the manager that creates bitmaps.
#pragma once

#include "host/max_types.h"

using BMMRES = unsigned short;
constexpr BMMRES BMMRES_SUCCESS = 0;
constexpr BMMRES BMMRES_ERRORTAKENCARE = 1;
constexpr BMMRES BMMRES_INVALIDFORMAT = 2;
constexpr BMMRES BMMRES_IOERROR = 3;
constexpr BMMRES BMMRES_INTERNALERROR = 4;

// Bitmap types: 8 bits per channel RGBA, and 32-bit float RGBA.
constexpr int BMM_TRUE_32 = 7;
constexpr int BMM_FLOAT_RGBA_32 = 17;

// Description flag: the bitmap carries alpha.
constexpr DWORD MAP_HAS_ALPHA = 2;

// Frame number meaning "the one frame of a still image".
constexpr int BMM_SINGLEFRAME = -2000000;
constexpr int BMM_CLOSE_COMPLETE = 0;
constexpr int BMM_CLOSE_ABORT = 1;

class BitmapInfo {
  public:
    WORD Width() const { return width_; }
    WORD Height() const { return height_; }
    int Type() const { return type_; }
    DWORD Flags() const { return flags_; }
    float Aspect() const { return aspect_; }
    const MCHAR* Name() const { return name_.c_str(); }

    void SetWidth(WORD w) { width_ = w; }
    void SetHeight(WORD h) { height_ = h; }
    void SetType(int type) { type_ = type; }
    // Adds flags to those already set.
    void SetFlags(DWORD flags) { flags_ |= flags; }
    void ResetFlags(DWORD flags) { flags_ &= ~flags; }
    void SetAspect(float aspect) { aspect_ = aspect; }
    void SetName(const MCHAR* name) { name_ = name ? name : L""; }

  private:
    WORD width_ = 640;
    WORD height_ = 480;
    int type_ = BMM_TRUE_32;
    DWORD flags_ = 0;
    float aspect_ = 1.0f;
    MSTR name_;
};

class Bitmap {
  public:
    virtual int Width() = 0;
    virtual int Height() = 0;
    // Prepares writing the bitmap to the file named by bi; the format follows the extension.
    virtual BMMRES OpenOutput(BitmapInfo* bi) = 0;
    virtual BMMRES Write(BitmapInfo* bi, int frame = BMM_SINGLEFRAME) = 0;
    virtual int Close(BitmapInfo* bi, int flag = BMM_CLOSE_COMPLETE) = 0;
    // Frees the bitmap; the pointer is dead afterwards.
    virtual void DeleteThis() = 0;

  protected:
    virtual ~Bitmap() = default;
};

class BitmapManager {
  public:
    virtual ~BitmapManager() = default;
    // A new bitmap of the description's size and type; the caller frees it with DeleteThis.
    virtual Bitmap* Create(BitmapInfo* bi) = 0;
};

extern BitmapManager* TheManager;

// Answers whether the file exists and is a regular file.
BOOL BMMIsFile(const MCHAR* filename);
