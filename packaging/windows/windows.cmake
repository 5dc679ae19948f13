# The Windows packaging.
