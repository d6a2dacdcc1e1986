# The simple cursor graphic and the cursor loader on hand-made files.
tolvane_gtest(formats_cur_test SOURCES CURImageTest.cpp LIBS formats)
