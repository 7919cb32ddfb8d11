// Here so the probe's relative includes resolve.
