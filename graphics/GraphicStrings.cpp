#include "GraphicStrings.h"

#include "GraphicColor.h"

namespace tolvane::GraphicStrings {

const char* const SInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
const char* const SInvalidColorFormat = "Invalid color format in %s file.";
const char* const SStreamReadError = "Stream read error in %s file.";
const char* const SUnsupportedFeature = "Cannot load image. %s not supported for %s files.";
const char* const SCompressionScheme = "The compression scheme is";
const char* const SCRCError = "Cannot load image. CRC error found in %s file.";
const char* const SCompressionError = "Cannot load image. Compression error found in %s file.";
const char* const SExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
const char* const SInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
const char* const SUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";
// The colour manager's texts are its own; these name the same.
const char* const SIndexedNotSupported = GraphicColorStrings::SIndexedNotSupported;
const char* const SConversionFailed = GraphicColorStrings::SConversionUnsupported;
const char* const SInvalidColorDepth = GraphicColorStrings::SInvalidColorDepth;
const char* const SInvalidSampleCount = GraphicColorStrings::SInvalidSampleCount;
const char* const SInvalidSubSampling = GraphicColorStrings::SInvalidSubSampling;
const char* const SVerticalSubSampling = GraphicColorStrings::SVerticalSubSamplingError;
const char* const SLZ77Error = "LZ77 decompression error.";
const char* const SJPEGEndOfInput = "JPEG decompression error. Unexpected end of input.";
const char* const SJPEGStripSize = "Improper JPEG strip/tile size.";
const char* const SJPEGComponentCount = "Improper JPEG component count.";
const char* const SJPEGDataPrecision = "Improper JPEG data precision.";
const char* const SJPEGSamplingFactors = "Improper JPEG sampling factors.";
const char* const SJPEGBogusTables = "Bogus JPEG tables field.";
const char* const SJPEGFractionalLine = "Fractional JPEG scanline unsupported.";
const char* const SWarning = "Warning";
const char* const SDuplicateRegistration = "Attempt to register %s twice.";

const char* const SPreparing = "Preparing...";
const char* const SLoadingData = "Loading data...";
const char* const SUpsampling = "Upsampling...";
const char* const STransfering = "Transfering...";

const char* const SFormatAutodesk = "Autodesk";
const char* const SFormatSGI = "sgi, bw or rgb(a)";
const char* const SFormatTIFF = "TIF/TIFF";
const char* const SFormatEPS = "EPS";
const char* const SFormatPPM = "PBM, PGM or PPM";
const char* const SFormatGIF = "GIF";
const char* const SFormatPSD = "PSD or PDD";
const char* const SFormatPSP = "PSP";
const char* const SFormatPNG = "PNG";

const char* const SDescWindowsBitmaps = "Windows bitmaps";
const char* const SDescWindowsIcons = "Windows icons";
const char* const SDescWindowsMetafiles = "Windows metafiles";
const char* const SDescEnhancedMetafiles = "Windows enhanced meta files";
const char* const SDescJFIF = "JFIF images";
const char* const SDescJPG = "JPG images";
const char* const SDescJPE = "JPE images";
const char* const SDescJPEG = "JPEG images";
const char* const SDescRLEBitmaps = "Run length encoded Windows bitmaps";
const char* const SDescDIB = "Device independant Windows bitmaps";
const char* const SDescTruevision = "Truevision images";
const char* const SDescTIFF = "Tagged image file format images";
const char* const SDescMacTIFF = "Macintosh TIFF images";
const char* const SDescPCTIF = "PC TIF images";
const char* const SDescGFIFax = "GFI fax images";
const char* const SDescEPS = "Encapsulated Postscript images";
const char* const SDescPCX = "ZSoft Paintbrush images";
const char* const SDescWordScreenCapture = "Word 5.x screen capture images";
const char* const SDescAliasWavefront = "Alias/Wavefront images";
const char* const SDescSGI = "SGI images";
const char* const SDescSGITrueColor = "SGI true color images";
const char* const SDescSGITrueColorAlpha = "SGI true color images with alpha";
const char* const SDescSGIMono = "SGI black/white images";
const char* const SDescPhotoshop = "Photoshop images";
const char* const SDescPortableMap = "Portable map images";
const char* const SDescPortablePixelMap = "Portable pixel map images";
const char* const SDescPortableGrayMap = "Portable gray map images";
const char* const SDescPortableBitmap = "Portable bitmap images";
const char* const SDescAutodesk = "Autodesk images";
const char* const SDescPhotoCD = "Kodak Photo-CD images";
const char* const SDescCompuServe = "CompuServe images";
const char* const SDescDrHalo = "Dr. Halo images";
const char* const SDescPaintshopPro = "Paintshop Pro images";
const char* const SDescPNG = "Portable network graphic images";

}  // namespace tolvane::GraphicStrings
