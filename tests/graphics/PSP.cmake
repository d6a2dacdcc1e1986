# The Paint Shop Pro reader on files that a small writer in the script makes
# with known pixels (nothing in Debian writes the format), malformed and
# truncated files, and the finder grouping a Paint Shop Pro file with its twin.
tolvane_pytest(graphics_psp_reference ${CMAKE_CURRENT_SOURCE_DIR}/psp_reference.py $<TARGET_FILE:finddups>)
tolvane_gtest(graphics_psp_test SOURCES PSPGraphicTest.cpp LIBS graphics)
