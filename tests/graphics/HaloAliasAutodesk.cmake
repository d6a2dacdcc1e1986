# The Dr. Halo CUT, Alias/Wavefront RLA and Autodesk readers: conformance and
# malformed files through imgdump, and the rules a file cannot show.
tolvane_pytest(graphics_cut_rla_cel_reference ${CMAKE_CURRENT_SOURCE_DIR}/cut_rla_cel_reference.py)
tolvane_gtest(graphics_cut_rla_cel_test SOURCES CutRlaCelTest.cpp LIBS graphics)
