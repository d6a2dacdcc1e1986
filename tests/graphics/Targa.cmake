# The Targa reader and writer: probe, properties and the writer on hand-made
# bitmaps; the conformance set (ImageMagick, Pillow, ppmtotga, hand-made
# variants against tgatoppm and Pillow), the writer's round trips and
# malformed files through imgdump.
tolvane_gtest(graphics_targa_test SOURCES TargaGraphicTest.cpp LIBS graphics)
tolvane_pytest(graphics_targa_reference ${CMAKE_CURRENT_SOURCE_DIR}/targa_reference.py)
