# The TIFF, fax and EPS readers: the conformance set against libtiff and the
# other tools, made at run time.
tolvane_pytest(graphics_tiff_reference ${CMAKE_CURRENT_SOURCE_DIR}/tiff_reference.py)
tolvane_gtest(graphics_tiff_test SOURCES TIFFGraphicTest.cpp LIBS graphics)
tolvane_pytest(graphics_tiff_memory ${CMAKE_CURRENT_SOURCE_DIR}/tiff_memory.py)
