# The PCX reader against netpbm, Pillow and ImageMagick, and malformed files.
tolvane_pytest(graphics_pcx_reference ${CMAKE_CURRENT_SOURCE_DIR}/pcx_reference.py)
