# The GIF reader: properties and progress on hand-made files; the
# conformance set (gifbuild, ImageMagick, Pillow, pamtogif against giftopnm)
# and malformed files through imgdump.
tolvane_gtest(graphics_gif_test SOURCES GIFGraphicTest.cpp LIBS graphics)
tolvane_pytest(graphics_gif_reference ${CMAKE_CURRENT_SOURCE_DIR}/gif_reference.py)
