void XboardLoop() {}
