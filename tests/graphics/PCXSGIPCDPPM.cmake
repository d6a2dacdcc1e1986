# Probes, properties and reuse of the PCX, SGI, Photo CD and portable map
# readers.
tolvane_gtest(graphics_pcx_sgi_pcd_ppm_test SOURCES PCXSGIPCDPPMTest.cpp LIBS graphics)
