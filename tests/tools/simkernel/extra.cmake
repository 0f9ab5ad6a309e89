# The flash model and the rule engine, tested without the preload.
target_link_libraries(${name} PRIVATE simkernel_model)
