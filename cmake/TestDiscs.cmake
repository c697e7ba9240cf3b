# Authored test discs: see tools/make-test-disc and tests/discs/*.disc.
add_custom_target(test-discs ALL)
