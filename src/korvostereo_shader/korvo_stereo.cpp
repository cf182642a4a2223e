// Stereo lens shader library. The shader itself arrives with the renderer module that drives it.
