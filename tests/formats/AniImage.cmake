# The cursor graphic: hand-made cursors and animated cursors, then files of
# icotool (and animated cursors wrapped around them) through imgdump.
tolvane_gtest(formats_ani_test SOURCES AniImageTest.cpp LIBS formats finder)
tolvane_pytest(formats_cursor_reference ${CMAKE_CURRENT_SOURCE_DIR}/cursor_reference.py)
