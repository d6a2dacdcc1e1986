# The X Bitmap graphic: hand-made files and the writer's text, then
# conformance with netpbm, ImageMagick and the xbitmaps files through imgdump.
tolvane_gtest(formats_xbm_test SOURCES XBMImageTest.cpp LIBS formats)
tolvane_pytest(formats_xbm_reference ${CMAKE_CURRENT_SOURCE_DIR}/xbm_reference.py)
