// The texts of the image-format library: messages, stage texts of the load
// progress and the format descriptions of the registration list. They are
// kept as the library's own resource strings; no catalogue translates them,
// so they always appear in English, spelling included.
#pragma once

namespace tolvane::GraphicStrings {

// Messages. A %s stands for the format name a reader passes.
extern const char* const SInvalidImage;           // "Cannot load image. Invalid or unexpected %s image format."
extern const char* const SInvalidColorFormat;     // "Invalid color format in %s file."
extern const char* const SStreamReadError;        // "Stream read error in %s file."
extern const char* const SUnsupportedFeature;     // "Cannot load image. %s not supported for %s files."
extern const char* const SCompressionScheme;      // "The compression scheme is"
extern const char* const SCRCError;               // "Cannot load image. CRC error found in %s file."
extern const char* const SCompressionError;       // "Cannot load image. Compression error found in %s file."
extern const char* const SExtraCompressedData;    // "Cannot load image. Extra compressed data found in %s file."
extern const char* const SInvalidPalette;         // "Cannot load image. Palette in %s file is invalid."
extern const char* const SUnknownCriticalChunk;   // "Cannot load PNG image. Unexpected but critical chunk detected."
extern const char* const SIndexedNotSupported;    // "Conversion between indexed and non-indexed pixel formats is not supported."
extern const char* const SConversionFailed;       // "Color conversion failed. Could not find a proper method."
extern const char* const SInvalidColorDepth;      // "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."
extern const char* const SInvalidSampleCount;     // "Sample count per pixel does not correspond to the given color scheme."
extern const char* const SInvalidSubSampling;     // "Subsampling value is invalid. Allowed are 1, 2 and 4."
extern const char* const SVerticalSubSampling;    // "Vertical subsampling value must be <= horizontal subsampling value."
extern const char* const SLZ77Error;              // "LZ77 decompression error."
extern const char* const SJPEGEndOfInput;         // "JPEG decompression error. Unexpected end of input."
extern const char* const SJPEGStripSize;          // "Improper JPEG strip/tile size."
extern const char* const SJPEGComponentCount;     // "Improper JPEG component count."
extern const char* const SJPEGDataPrecision;      // "Improper JPEG data precision."
extern const char* const SJPEGSamplingFactors;    // "Improper JPEG sampling factors."
extern const char* const SJPEGBogusTables;        // "Bogus JPEG tables field."
extern const char* const SJPEGFractionalLine;     // "Fractional JPEG scanline unsupported."
extern const char* const SWarning;                // "Warning"
extern const char* const SDuplicateRegistration;  // "Attempt to register %s twice."

// Stages of a load, reported with psStarting.
extern const char* const SPreparing;    // header, palette and decoder set-up
extern const char* const SLoadingData;  // reading or decoding the whole image into memory
extern const char* const SUpsampling;   // chroma planes
extern const char* const STransfering;  // rows into the bitmap

// Format names that the readers put into SInvalidImage.
extern const char* const SFormatAutodesk;
extern const char* const SFormatSGI;
extern const char* const SFormatTIFF;
extern const char* const SFormatEPS;
extern const char* const SFormatPPM;
extern const char* const SFormatGIF;
extern const char* const SFormatPSD;
extern const char* const SFormatPSP;
extern const char* const SFormatPNG;

// Format descriptions of the registration list.
extern const char* const SDescWindowsBitmaps;
extern const char* const SDescWindowsIcons;
extern const char* const SDescWindowsMetafiles;
extern const char* const SDescEnhancedMetafiles;
extern const char* const SDescJFIF;
extern const char* const SDescJPG;
extern const char* const SDescJPE;
extern const char* const SDescJPEG;
extern const char* const SDescRLEBitmaps;
extern const char* const SDescDIB;
extern const char* const SDescTruevision;
extern const char* const SDescTIFF;
extern const char* const SDescMacTIFF;
extern const char* const SDescPCTIF;
extern const char* const SDescGFIFax;
extern const char* const SDescEPS;
extern const char* const SDescPCX;
extern const char* const SDescWordScreenCapture;
extern const char* const SDescAliasWavefront;
extern const char* const SDescSGI;
extern const char* const SDescSGITrueColor;
extern const char* const SDescSGITrueColorAlpha;
extern const char* const SDescSGIMono;
extern const char* const SDescPhotoshop;
extern const char* const SDescPortableMap;
extern const char* const SDescPortablePixelMap;
extern const char* const SDescPortableGrayMap;
extern const char* const SDescPortableBitmap;
extern const char* const SDescAutodesk;
extern const char* const SDescPhotoCD;
extern const char* const SDescCompuServe;
extern const char* const SDescDrHalo;
extern const char* const SDescPaintshopPro;
extern const char* const SDescPNG;

}  // namespace tolvane::GraphicStrings
