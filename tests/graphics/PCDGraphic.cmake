# The Photo CD reader: hand-made packs against a numpy model, ImageMagick's
# packs for geometry and orientation.
tolvane_pytest(graphics_pcd_reference ${CMAKE_CURRENT_SOURCE_DIR}/pcd_reference.py)
