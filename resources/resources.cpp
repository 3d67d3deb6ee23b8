// The resource data is linked through this library; nothing else lives here.
