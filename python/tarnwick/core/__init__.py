"""The host's core services and the three compiled modules."""
