# The .411 thumbnail graphic: rounding, file sizes and refusals, then the
# whole conversion through imgdump against a numpy model.
tolvane_gtest(formats_a411_test SOURCES a411ImageTest.cpp LIBS formats)
tolvane_pytest(formats_a411_reference ${CMAKE_CURRENT_SOURCE_DIR}/a411_reference.py)
