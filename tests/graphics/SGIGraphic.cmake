# The SGI reader against netpbm, ImageMagick and Pillow, and malformed files.
tolvane_pytest(graphics_sgi_reference ${CMAKE_CURRENT_SOURCE_DIR}/sgi_reference.py)
