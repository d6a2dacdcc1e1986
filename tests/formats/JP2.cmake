# The JPEG 2000 codec: its own tests, and imgdump against OpenJPEG's tools,
# ImageMagick and Pillow on files made at test time.
tolvane_gtest(jp2_test SOURCES JP2Test.cpp LIBS formats)
tolvane_pytest(jp2_conformance ${CMAKE_CURRENT_SOURCE_DIR}/jp2_conformance_test.py)
