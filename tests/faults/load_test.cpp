// Load test: see below.
