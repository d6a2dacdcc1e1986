# The JPEG 2000 codec: its own tests, and imgdump against OpenJPEG's tools,
# ImageMagick and Pillow on files made at test time.
tolvane_gtest(jp2_test SOURCES JP2Test.cpp LIBS formats)
