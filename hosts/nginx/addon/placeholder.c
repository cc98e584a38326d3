/* Stands for the module in nginx configure; never compiled. */
