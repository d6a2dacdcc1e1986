# The WBMP and slide graphics: unit tests, and their files against netpbm
# and ImageMagick through imgdump.
tolvane_gtest(formats_wbmp_slide_test SOURCES WBMPSlideTest.cpp LIBS formats)
tolvane_pytest(formats_wbmp_slide_reference ${CMAKE_CURRENT_SOURCE_DIR}/wbmp_slide_reference.py)
