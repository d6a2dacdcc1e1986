# The portable map reader against netpbm and ImageMagick, and malformed files.
tolvane_pytest(graphics_ppm_reference ${CMAKE_CURRENT_SOURCE_DIR}/ppm_reference.py)
