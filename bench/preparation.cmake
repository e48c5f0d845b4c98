# Preparation reads the settings, which stand above it: the libraries from launching to settings
# form one cycle, and a chain of references through it can be longer than CMake's two passes.
set_property(TARGET lf_preparation PROPERTY LINK_INTERFACE_MULTIPLICITY 3)
