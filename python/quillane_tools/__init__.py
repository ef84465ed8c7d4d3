"""Tools around the quillane module."""
