# The Photoshop reader: ImageMagick's files against Pillow, hand-made files
# for the modes and faults no tool writes, truncated files, and the finder
# grouping a Photoshop file with its twins.
tolvane_pytest(graphics_psd_reference ${CMAKE_CURRENT_SOURCE_DIR}/psd_reference.py $<TARGET_FILE:finddups>)
tolvane_gtest(graphics_psd_test SOURCES PSDGraphicTest.cpp LIBS graphics)
